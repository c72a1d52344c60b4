// The upload form's progress bar. The form posts as an ordinary navigation, so
// the page works without this script; the browser keeps this page and its
// timers running until upload.asp answers, and meanwhile this polls
// progress.asp with the form's progress ID about four times a second.
'use strict';
(() => {
  const kPollMs = 250;
  const kSpeedWindowMs = 3000;   // speed over the last seconds, not since the start
  const kMaxWaitingPolls = 240;  // a minute without the upload starting: give up
  const form = document.getElementById('upload');
  const box = document.getElementById('progress');
  const bar = document.getElementById('progress-bar');
  const text = document.getElementById('progress-text');
  const id = form && box && new URL(form.action).searchParams.get('progress');
  if (!id) return;

  let run = 0, timer = 0, waiting = 0, started = false, samples = [];

  const megabytes = bytes => (bytes / 1e6).toFixed(1) + ' MB';
  function duration(seconds) {
    const whole = Math.ceil(seconds);
    return whole < 60 ? `${whole} s` : `${Math.floor(whole / 60)} min ${whole % 60} s`;
  }

  // Bytes per second over the samples of the last few seconds.
  function speed(p) {
    samples.push([p.elapsedMs, p.bytesReceived]);
    while (samples.length > 2 && p.elapsedMs - samples[0][0] > kSpeedWindowMs) samples.shift();
    const [ms, bytes] = samples[0];
    return p.elapsedMs > ms ? (p.bytesReceived - bytes) * 1000 / (p.elapsedMs - ms) : 0;
  }

  function receiving(p) {
    const rate = speed(p);
    const parts = [`${p.percentComplete}%`, `${megabytes(p.bytesReceived)} of ${megabytes(p.totalBytes)}`];
    if (rate > 0) {
      parts.push(`${megabytes(rate)}/s`, `${duration((p.totalBytes - p.bytesReceived) / rate)} left`);
    }
    if (p.fileName) parts.push(p.fileName);
    bar.value = p.percentComplete;
    text.textContent = parts.join(' · ');
  }

  // Draws one answer; false once there is nothing more to poll for.
  function show(p) {
    switch (p.state) {
      case 'receiving': started = true; receiving(p); return true;
      case 'done':
        bar.value = 100;
        text.textContent = `Received ${megabytes(p.totalBytes)}, ${p.filesStored} file(s) stored.`;
        return false;
      case 'failed':
        text.textContent = `The upload failed: ${p.errorDescription}`;
        return false;
      default:  // not yet published, or gone because upload.asp has ended
        if (!started) text.textContent = 'Waiting for the upload to start…';
        return !started && ++waiting < kMaxWaitingPolls;
    }
  }

  async function poll(current) {
    const begun = performance.now();
    let more = true;
    try {
      const answer = await fetch('/progress.asp?id=' + encodeURIComponent(id), { cache: 'no-store' });
      more = answer.ok && show(await answer.json());
    } catch {
      // A lost poll: the next one asks again.
    }
    if (more && current === run) timer = setTimeout(poll, Math.max(0, kPollMs - (performance.now() - begun)), current);
  }

  function stop() {
    run++;
    clearTimeout(timer);
    box.hidden = true;
  }

  form.addEventListener('submit', event => {
    if (event.defaultPrevented) return;
    stop();
    waiting = 0;
    started = false;
    samples = [];
    bar.value = 0;
    box.hidden = false;
    poll(run);
  });
  // Back from the result page, the page may come from the browser's cache.
  window.addEventListener('pageshow', event => { if (event.persisted) stop(); });
})();
