#!/usr/bin/env bash
# Builds the Debian packages quillpoint, quillpoint-dbgsym and quillpoint-backend with CPack.
#
#   scripts/package.sh [BUILD_DIR]
#
# BUILD_DIR defaults to build/release, configured with the `release` preset when it is not
# yet. Any configured build directory works (the test suite packages its own `dev` build):
# only the program is built, nothing else. The packages land in BUILD_DIR/packages.
#
# The backend's production dependencies are prepared once per lockfile and Node.js version in
# BUILD_DIR/backend-modules: copied from backend/node_modules when `npm ci` already installed
# exactly the locked versions there (scripts/test.sh does), else installed with
# `npm ci --omit=dev`, which compiles better-sqlite3 and takes a few minutes.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$(realpath -m "${1:-$source_dir/build/release}")

die() { echo "package: $*" >&2; exit 1; }

if [[ ! -f $build_dir/CMakeCache.txt ]]; then
    [[ $build_dir == "$source_dir/build/release" ]] || die "$build_dir is not a configured build directory"
    (cd "$source_dir" && cmake --preset release)
fi
for tool in cpack dpkg-shlibdeps objcopy file node npm; do
    command -v "$tool" >/dev/null || die "needs $tool (scripts/install-deps.sh installs it)"
done
cmake --build "$build_dir" --target quillpoint

stage=$build_dir/backend-modules
# Prepared again when the lockfile, the Node.js module version or this script change.
key="$(cat "$source_dir/backend/package-lock.json" "$0" | sha256sum | cut -d' ' -f1) node $(node -p process.versions.modules)"

# Copies the locked production packages from backend/node_modules into $1, if that tree holds
# exactly the locked versions; fails otherwise.
copy_installed_modules() {
    node - "$source_dir/backend" "$1" <<'EOF'
const fs = require('node:fs');
const path = require('node:path');
const [backend, target] = process.argv.slice(2);
const lock = JSON.parse(fs.readFileSync(path.join(backend, 'package-lock.json'), 'utf8'));
const wanted = Object.entries(lock.packages).filter(([where, entry]) => where !== '' && !entry.dev);
for (const [where, entry] of wanted) {
  const manifest = path.join(backend, where, 'package.json');
  if (!fs.existsSync(manifest) || JSON.parse(fs.readFileSync(manifest, 'utf8')).version !== entry.version) {
    console.error(`package: backend/${where} is not the locked version ${entry.version}`);
    process.exit(1);
  }
}
for (const [where] of wanted) {
  if (where.split('node_modules/').length === 2) {
    fs.cpSync(path.join(backend, where), path.join(target, where), { recursive: true, verbatimSymlinks: true });
  }
}
EOF
}

# Keeps what runs: the compiled modules, not their sources, objects or test extensions.
trim_native_modules() {
    local gyp dir
    while IFS= read -r gyp; do
        dir=$(dirname "$gyp")
        local keep=$stage/keep
        mkdir -p "$keep"
        find "$dir/build/Release" -maxdepth 1 -name '*.node' ! -name 'test_*' -exec mv -t "$keep" {} +
        rm -rf "$dir/build" "$dir/deps" "$dir/src" "$gyp"
        mkdir -p "$dir/build/Release"
        mv "$keep"/*.node "$dir/build/Release/"
        rmdir "$keep"
    done < <(find "$stage/node_modules" -name binding.gyp)
    find "$stage/node_modules" -name '*.node' -exec strip --strip-unneeded {} +
    # Tool configuration (.eslintrc, .npmignore, .github/) and the packages' own tests are not
    # used at run time.
    rm -rf "$stage/node_modules/.bin" "$stage/node_modules/.package-lock.json"
    find "$stage/node_modules" -mindepth 2 -name '.*' -prune -exec rm -rf {} +
    find "$stage/node_modules" -mindepth 2 -maxdepth 2 -type d -name test -prune -exec rm -rf {} +
    # The packages' command-line scripts keep working when run directly.
    find "$stage/node_modules" -type d -exec chmod 755 {} +
    find "$stage/node_modules" -type f -exec chmod 644 {} +
    find "$stage/node_modules" -type f -name '*.js' -exec sh -c '[ "$(head -c2 "$1")" = "#!" ]' sh {} \; \
        -exec chmod 755 {} +
}

# A machine-readable copyright file: Quillpoint's own, then one paragraph per bundled package.
write_backend_copyright() {
    node - "$source_dir/data/copyright" "$stage/node_modules" >"$stage/copyright" <<'EOF'
const fs = require('node:fs');
const path = require('node:path');
const [ownCopyright, modules] = process.argv.slice(2);
const licenceTexts = {
  'Apache-2.0': 'On Debian systems the full text is in /usr/share/common-licenses/Apache-2.0.',
  'CC0-1.0': 'On Debian systems the full text is in /usr/share/common-licenses/CC0-1.0.',
};
const used = new Set();
const paragraphs = [];
const packages = [];
for (const name of fs.readdirSync(modules)) {
  if (name.startsWith('@')) {
    for (const sub of fs.readdirSync(path.join(modules, name))) packages.push(`${name}/${sub}`);
  } else packages.push(name);
}
for (const name of packages.sort()) {
  const manifest = JSON.parse(fs.readFileSync(path.join(modules, name, 'package.json'), 'utf8'));
  const spdx = typeof manifest.license === 'string' ? manifest.license : 'UNKNOWN';
  const licence = spdx.replace(/[()]/g, '').replace(/ OR /g, ' or ').replace(/ AND /g, ' and ');
  licence.split(/ or | and /).forEach((id) => used.add(id));
  const author = typeof manifest.author === 'string' ? manifest.author : manifest.author?.name;
  paragraphs.push(
    `Files: usr/lib/quillpoint-backend/node_modules/${name}/*\n` +
      `Copyright: ${author ?? `the authors of ${name}`}\n` +
      `License: ${licence}\n` +
      `Comment: ${name} ${manifest.version}`,
  );
}
paragraphs.push(
  'Files: usr/lib/quillpoint-backend/node_modules/better-sqlite3/build/Release/*\n' +
    'Copyright: the authors of better-sqlite3; SQLite, compiled in, by D. Richard Hipp and others\n' +
    'License: MIT and public-domain',
);
used.add('public-domain');
for (const id of [...used].sort()) {
  const text =
    id === 'public-domain'
      ? 'The SQLite authors have dedicated SQLite to the public domain.'
      : licenceTexts[id] ??
        `The full text, with the copyright holders, is in the LICENSE file of each package under\n` +
          ` /usr/lib/quillpoint-backend/node_modules that names ${id} in its package.json.`;
  paragraphs.push(`License: ${id}\n ${text}`);
}
process.stdout.write(`${fs.readFileSync(ownCopyright, 'utf8').trimEnd()}\n\n${paragraphs.join('\n\n')}\n`);
EOF
}

if [[ ! -f $stage/key || $(cat "$stage/key") != "$key" ]]; then
    rm -rf "$stage"
    mkdir -p "$stage"
    cp "$source_dir/backend/package.json" "$source_dir/backend/package-lock.json" "$stage/"
    if [[ -d $source_dir/backend/node_modules ]] && copy_installed_modules "$stage"; then
        echo "package: backend dependencies copied from backend/node_modules"
    else
        echo "package: installing the backend's production dependencies (npm ci --omit=dev)"
        [[ -d /usr/include/node ]] && export npm_config_nodedir=${npm_config_nodedir:-/usr}
        (cd "$stage" && npm ci --omit=dev --no-audit --no-fund)
    fi
    trim_native_modules
    (cd "$stage" && node -e "new (require('better-sqlite3'))(':memory:').prepare('select 1').get()") \
        || die "the staged better-sqlite3 does not load"
    write_backend_copyright
    node -p 'process.versions.node.split(".")[0]' >"$stage/node-major"
    echo "$key" >"$stage/key"
fi

rm -rf "$build_dir/packages"
cpack --config "$build_dir/CPackConfig.cmake" -B "$build_dir/packages"
rm -rf "$build_dir/packages/_CPack_Packages"
ls -l "$build_dir/packages"
