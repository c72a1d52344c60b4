// The sample site in a real browser: Debian's Chromium, headless, fills the
// upload form (text, textarea, multi-select, checkboxes, one file and several
// files), submits it and checks what the result page shows; saves a
// screenshot of that page.
//
//   QOR_NODE_MODULES=DIR node browser.mjs BASE_URL WORK_DIR SCREENSHOT.png HOST_TMP_DIR
//
// playwright-core is installed under the build tree (scripts/setup), named by
// QOR_NODE_MODULES; it drives the system's browser and never downloads one.
import fs from 'node:fs';
import path from 'node:path';
import { createRequire } from 'node:module';

const { chromium } = createRequire(path.join(process.env.QOR_NODE_MODULES, '/'))('playwright-core');

const [base, work, screenshot, hostTmp] = process.argv.slice(2);
let passed = 0, failed = 0;
function expectEq(what, expected, actual) {
  if (JSON.stringify(expected) === JSON.stringify(actual)) passed++;
  else { failed++; console.log(`FAIL: ${what}: expected ${JSON.stringify(expected)}, got ${JSON.stringify(actual)}`); }
}

fs.rmSync(work, { recursive: true, force: true });
fs.mkdirSync(work, { recursive: true });
const files = {
  'notes.txt': Buffer.from('Notes for the browser test\nline two\n'),
  'photo.bin': Buffer.from(Array.from({ length: 3000 }, (_, i) => (i * 7) & 255)),
  'résumé.txt': Buffer.from('<resume> & "quotes"\n'),
};
for (const [name, bytes] of Object.entries(files)) fs.writeFileSync(path.join(work, name), bytes);

const browser = await chromium.launchPersistentContext(path.join(work, 'profile'), {
  executablePath: '/usr/bin/chromium',
  headless: true,
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
         '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  timeout: 60000,
});
try {
  const page = await browser.newPage();
  page.setDefaultTimeout(30000);
  await page.goto(base + '/');
  expectEq('form page title', 'QORUpload sample: upload form', await page.title());

  await page.fill('input[name=title]', 'Browser test ✓');
  await page.fill('textarea[name=notes]', 'first line <b>\nsecond line');
  await page.selectOption('select[name=colours]', ['red', 'blue']);
  await page.check('input[name=tags][value=news]');
  await page.check('input[name=tags][value=draft]');
  await page.setInputFiles('input[name=single]', path.join(work, 'notes.txt'));
  await page.setInputFiles('input[name=many]', [path.join(work, 'photo.bin'), path.join(work, 'résumé.txt')]);
  await Promise.all([page.waitForURL('**/upload.asp'), page.click('button[type=submit]')]);

  expectEq('result page title', 'QORUpload sample: what the page received', await page.title());
  const fields = await page.$$eval('#fields tr.field', rows => rows.map(r => [
    r.querySelector('.name').textContent, [...r.querySelectorAll('.value')].map(v => v.textContent)]));
  const byName = Object.fromEntries(fields);
  expectEq('title', ['Browser test ✓'], byName.title);
  expectEq('author (preset value)', ['Anonymous'], byName.author);
  // The browser sends the line break as CR LF; the page's DOM shows it as LF.
  expectEq('notes', ['first line <b>\nsecond line'], byName.notes);
  expectEq('multi-select', ['red', 'blue'], byName.colours);
  expectEq('checkboxes sharing a name', ['news', 'draft'], byName.tags);

  const shown = await page.$$eval('#files tr.file', rows => rows.map(r => ({
    field: r.querySelector('.field').textContent,
    userPath: r.querySelector('.userpath').textContent,
    size: Number(r.querySelector('.size').textContent),
    start: r.querySelector('.start').textContent,
    hex: r.querySelector('.hex').textContent,
  })));
  expectEq('three files', 3, shown.length);
  const expected = [['single', 'notes.txt'], ['many', 'photo.bin'], ['many', 'résumé.txt']];
  expected.forEach(([field, name], i) => {
    const bytes = files[name];
    const row = shown[i] || {};
    expectEq(`file ${i + 1} field`, field, row.field);
    expectEq(`file ${i + 1} user path`, name, row.userPath);
    expectEq(`file ${i + 1} size`, bytes.length, row.size);
    const hex = [...bytes.subarray(0, 16)].map(b => b.toString(16).toUpperCase().padStart(2, '0')).join(' ');
    expectEq(`file ${i + 1} first bytes`, hex, row.hex);
  });
  expectEq('text file read back by the page', 'Notes for the browser test\nline two\n', shown[0]?.start);
  expectEq('markup in a file is shown as text', '<resume> & "quotes"\n', shown[2]?.start);
  const whole = await page.textContent('#whole-form');
  expectEq('whole-form text names the choices', true, whole.includes('colours=red,blue') && whole.includes('tags=news,draft'));

  await page.screenshot({ path: screenshot, fullPage: true });
  expectEq('screenshot saved', true, fs.statSync(screenshot).size > 1000);
  expectEq('no temporary file left', [], fs.readdirSync(hostTmp));
} catch (error) {
  failed++;
  console.log(`FAIL: ${error.message}`);
} finally {
  await browser.close();
}
fs.rmSync(work, { recursive: true, force: true });
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
