// The sample site's progress bar in a real browser: Debian's Chromium,
// headless, sends a 20 MiB file with its upload throttled to 4 MiB/s
// (DevTools network conditions). What the page's script polled from
// progress.asp must rise monotonically through at least five values, never
// past TotalBytes, and end "done" or, once upload.asp has ended, "unknown";
// the bar part-way shows percent, MB, speed, time left and the file name, and
// is saved as a screenshot. (progress.sh posts the form as a browser without
// script does.)
//
//   QOR_NODE_MODULES=DIR node progress.mjs BASE_URL WORK_DIR SCREENSHOT.png HOST_TMP_DIR
import fs from 'node:fs';
import path from 'node:path';
import { createRequire } from 'node:module';

const { chromium } = createRequire(path.join(process.env.QOR_NODE_MODULES, '/'))('playwright-core');

const [base, work, screenshot, hostTmp] = process.argv.slice(2);
const kFileBytes = 20 << 20;
const kUploadBytesPerSecond = 4 << 20;
let passed = 0, failed = 0;
function expect(what, ok, detail) {
  if (ok) passed++;
  else { failed++; console.log(`FAIL: ${what}: ${JSON.stringify(detail)}`); }
}

fs.rmSync(work, { recursive: true, force: true });
fs.mkdirSync(work, { recursive: true });
const big = path.join(work, 'big.bin');
fs.writeFileSync(big, Buffer.alloc(kFileBytes, 'QORUpload progress '));

const browser = await chromium.launch({
  executablePath: '/usr/bin/chromium',
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
         '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  timeout: 60000,
});
try {
  const page = await browser.newPage({ viewport: { width: 1000, height: 1100 } });
  page.setDefaultTimeout(60000);
  await page.goto(base + '/');
  const action = await page.getAttribute('#upload', 'action');
  expect('the form posts with a progress ID', /^\/upload\.asp\?progress=[A-Za-z0-9_-]{32}$/.test(action), action);
  const id = new URL(action, base).searchParams.get('progress');

  const cdp = await page.context().newCDPSession(page);
  await cdp.send('Network.enable');
  await cdp.send('Network.emulateNetworkConditions',
    { offline: false, latency: 0, downloadThroughput: -1, uploadThroughput: kUploadBytesPerSecond });
  // While the form's navigation is pending, Playwright's calls into the page
  // wait for the next document; the page hands out each poll's answer and
  // each text the bar shows itself, and the screenshot goes through DevTools.
  const answers = [], shown = [];
  let shot;
  await page.exposeFunction('qorPolled', answer => {
    answers.push(answer);
    if (shot || answer.percentComplete < 30 || answer.percentComplete > 70) return;
    shot = cdp.send('Page.captureScreenshot', { format: 'png' })
      .then(image => fs.writeFileSync(screenshot, Buffer.from(image.data, 'base64')));
  });
  await page.exposeFunction('qorShown', text => shown.push(text));
  await page.evaluate(() => {
    const plainFetch = window.fetch;
    window.fetch = async (...args) => {
      const answer = await plainFetch(...args);
      if (String(args[0]).startsWith('/progress.asp?')) answer.clone().json().then(window.qorPolled, () => {});
      return answer;
    };
    const text = document.getElementById('progress-text');
    new MutationObserver(() => window.qorShown(text.textContent)).observe(text, { childList: true, subtree: true });
  });

  await page.setInputFiles('input[name=single]', big);
  await page.click('button[type=submit]', { noWaitAfter: true });
  await page.waitForURL('**/upload.asp?progress=*', { timeout: 120000 });
  expect('result page', (await page.textContent('#files tr.file .size')) === String(kFileBytes), 'size');
  await shot;
  expect('screenshot part-way saved', shot && fs.statSync(screenshot).size > 1000, screenshot);

  // Part-way: "47% · 9.9 MB of 21.0 MB · 4.2 MB/s · 3 s left · big.bin".
  const bars = shown.map(text =>
    /^(\d+)% · ([\d.]+) MB of ([\d.]+) MB · ([\d.]+) MB\/s · (\d+) s left · big\.bin$/.exec(text)).filter(Boolean);
  const middle = bars.find(b => b[1] >= 30 && b[1] <= 70);
  expect('the bar part-way', middle, shown);
  const throttle = kUploadBytesPerSecond / 1e6;
  expect('speed near the throttle', middle && middle[4] > throttle / 2 && middle[4] < throttle * 2, middle?.[0]);
  expect('total shown', middle && Math.abs(middle[3] - kFileBytes / 1e6) < 0.5, middle?.[0]);

  const received = answers.filter(a => a.state === 'receiving');
  const bytes = received.map(a => a.bytesReceived);
  const total = received[0]?.totalBytes;
  expect('bytes rise monotonically', bytes.every((b, i) => i === 0 || b >= bytes[i - 1]), bytes);
  expect('through at least five values', new Set(bytes).size >= 5, bytes);
  expect('never past TotalBytes', total > kFileBytes && received.every(a => a.totalBytes === total &&
    a.bytesReceived <= total), received.at(-1));
  // No name until the file's part begins, then the file's.
  const names = received.map(a => a.fileName);
  expect('the file name once its part begins', names.includes('big.bin') &&
    names.every((n, i) => n === 'big.bin' || (n === '' && !names.slice(0, i).includes('big.bin'))), names);
  // The polls after the last "receiving" (often none: the page follows at once).
  const tail = answers.slice(answers.lastIndexOf(received.at(-1)) + 1);
  expect('up to TotalBytes', bytes.at(-1) >= total * 0.8, bytes.at(-1));
  expect('then done or, the page gone, unknown', tail.every(a => a.state === 'unknown' && a.bytesReceived === 0 ||
    a.state === 'done' && a.bytesReceived === total && a.filesStored === 1), tail);
  const after = await (await fetch(`${base}/progress.asp?id=${id}`)).json();
  expect('the record goes with the page', after.state === 'unknown' && after.bytesReceived === 0, after);
  expect('no temporary file left', fs.readdirSync(hostTmp).length === 0, fs.readdirSync(hostTmp));

} catch (error) {
  failed++;
  console.log(`FAIL: ${error.message}`);
} finally {
  await browser.close();
}
fs.rmSync(work, { recursive: true, force: true });
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
