// Preloaded into a service (NODE_OPTIONS=--import=…) so that every upload it
// saves meets a full disk: the writes go to /dev/full, which fails each one
// with ENOSPC.
import fs from 'node:fs';
import { syncBuiltinESMExports } from 'node:module';

const createWriteStream = fs.createWriteStream;
fs.createWriteStream = (file, options) => createWriteStream('/dev/full', { ...options, flags: 'w' });
syncBuiltinESMExports();
