import { readFileSync } from 'node:fs';

function statusMiB(pid, field) {
  const match = new RegExp(`^${field}:\\s+(\\d+) kB`, 'm').exec(readFileSync(`/proc/${pid}/status`, 'utf8'));
  return match ? Number(match[1]) / 1024 : NaN;
}

// Resident memory of a process, from Linux's /proc: sampled every few
// milliseconds while running, and the kernel's own peak (VmHWM).
export function watchRss(pid, intervalMs = 10) {
  const baseline = statusMiB(pid, 'VmRSS');
  let peak = baseline;
  const timer = setInterval(() => {
    peak = Math.max(peak, statusMiB(pid, 'VmRSS'));
  }, intervalMs);
  return {
    stop() {
      clearInterval(timer);
      return { baseline, peak: Math.max(peak, statusMiB(pid, 'VmRSS')), highWater: statusMiB(pid, 'VmHWM') };
    },
  };
}

export const mib = (value) => `${value.toFixed(1)} MiB`;
