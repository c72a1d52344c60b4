// The sample site in a real browser: Debian's Chromium, headless, fills the
// upload form (text, textarea, multi-select, checkboxes, a field with a
// non-ASCII name, one file and several files, some with non-ASCII names),
// asks the page to save the files, submits it and checks what the result page
// shows and what it saved; a second upload of a file of the same name is saved
// beside the first, not over it. Saves a screenshot of the first result page.
//
//   QOR_NODE_MODULES=DIR node browser.mjs BASE_URL WORK_DIR SCREENSHOT.png HOST_TMP_DIR UPLOADS_DIR
//
// playwright-core is installed under the build tree (scripts/setup), named by
// QOR_NODE_MODULES; it drives the system's browser and never downloads one.
import fs from 'node:fs';
import path from 'node:path';
import { createRequire } from 'node:module';

const { chromium } = createRequire(path.join(process.env.QOR_NODE_MODULES, '/'))('playwright-core');

const [base, work, screenshot, hostTmp, uploads] = process.argv.slice(2);
let passed = 0, failed = 0;
// Where the page says it saved a file: the Windows path of the uploads folder.
const savedPath = name => 'Z:' + path.resolve(uploads, name).replaceAll('/', '\\');
const readHex = file => fs.existsSync(file) ? fs.readFileSync(file).toString('hex') : `no file ${file}`;
function expectEq(what, expected, actual) {
  if (JSON.stringify(expected) === JSON.stringify(actual)) passed++;
  else { failed++; console.log(`FAIL: ${what}: expected ${JSON.stringify(expected)}, got ${JSON.stringify(actual)}`); }
}

fs.rmSync(work, { recursive: true, force: true });
fs.mkdirSync(work, { recursive: true });
fs.rmSync(uploads, { recursive: true, force: true });
const files = {
  'notes.txt': Buffer.from('Notes for the browser test\nline two\n'),
  'photo.bin': Buffer.from(Array.from({ length: 3000 }, (_, i) => (i * 7) & 255)),
  'résumé 日本.txt': Buffer.from('<resume> & "quotes"\n'),
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

  await page.fill('input[name=title]', 'Browser test ✓ café 日本語');
  // A form of another site might name a field so; the browser sends the name in UTF-8.
  await page.$eval('#upload fieldset', set => set.insertAdjacentHTML('beforeend',
    '<input type="hidden" name="café 日本語" value="résumé ✓">'));
  await page.fill('textarea[name=notes]', 'first line <b>\nsecond line');
  await page.selectOption('select[name=colours]', ['red', 'blue']);
  await page.check('input[name=tags][value=news]');
  await page.check('input[name=tags][value=draft]');
  await page.setInputFiles('input[name=single]', path.join(work, 'notes.txt'));
  await page.setInputFiles('input[name=many]', [path.join(work, 'photo.bin'), path.join(work, 'résumé 日本.txt')]);
  await page.check('input[name=save]');
  await Promise.all([page.waitForURL('**/upload.asp*'), page.click('button[type=submit]')]);

  expectEq('result page title', 'QORUpload sample: what the page received', await page.title());
  const fields = await page.$$eval('#fields tr.field', rows => rows.map(r => [
    r.querySelector('.name').textContent, [...r.querySelectorAll('.value')].map(v => v.textContent)]));
  const byName = Object.fromEntries(fields);
  expectEq('title', ['Browser test ✓ café 日本語'], byName.title);
  expectEq('non-ASCII field name', ['résumé ✓'], byName['café 日本語']);
  expectEq('author (preset value)', ['Anonymous'], byName.author);
  // The browser sends the line break as CR LF; the page's DOM shows it as LF.
  expectEq('notes', ['first line <b>\nsecond line'], byName.notes);
  expectEq('multi-select', ['red', 'blue'], byName.colours);
  expectEq('checkboxes sharing a name', ['news', 'draft'], byName.tags);

  const shown = await page.$$eval('#files tr.file', rows => rows.map(r => ({
    field: r.querySelector('.field').textContent,
    userPath: r.querySelector('.userpath').textContent,
    fileName: r.querySelector('.filename').textContent,
    contentType: r.querySelector('.contenttype').textContent,
    saved: r.querySelector('.saved').textContent,
    size: Number(r.querySelector('.size').textContent),
    start: r.querySelector('.start').textContent,
    hex: r.querySelector('.hex').textContent,
  })));
  expectEq('three files', 3, shown.length);
  const expected = [['single', 'notes.txt', 'text/plain'], ['many', 'photo.bin', 'application/octet-stream'],
                    ['many', 'résumé 日本.txt', 'text/plain']];
  expected.forEach(([field, name, type], i) => {
    const bytes = files[name];
    const row = shown[i] || {};
    expectEq(`file ${i + 1} field`, field, row.field);
    expectEq(`file ${i + 1} user path`, name, row.userPath);
    expectEq(`file ${i + 1} file name`, name, row.fileName);
    expectEq(`file ${i + 1} content type`, type, row.contentType);
    expectEq(`file ${i + 1} size`, bytes.length, row.size);
    expectEq(`file ${i + 1} saved as`, savedPath(name), row.saved);
    expectEq(`file ${i + 1} saved bytes`, bytes.toString('hex'), readHex(path.join(uploads, name)));
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

  // The same name again: saved beside the first file, which stays as it was.
  await page.goto(base + '/');
  await page.setInputFiles('input[name=single]', path.join(work, 'photo.bin'));
  await page.check('input[name=save]');
  await Promise.all([page.waitForURL('**/upload.asp*'), page.click('button[type=submit]')]);
  expectEq('second save takes a new name', savedPath('photo (1).bin'), await page.textContent('#files tr.file .saved'));
  expectEq('second save: bytes', files['photo.bin'].toString('hex'), readHex(path.join(uploads, 'photo (1).bin')));
  expectEq('first save kept', files['photo.bin'].toString('hex'), readHex(path.join(uploads, 'photo.bin')));
  expectEq('nothing else saved', [...Object.keys(files), 'photo (1).bin'].sort(), fs.readdirSync(uploads).sort());
} catch (error) {
  failed++;
  console.log(`FAIL: ${error.message}`);
} finally {
  await browser.close();
}
fs.rmSync(work, { recursive: true, force: true });
fs.rmSync(uploads, { recursive: true, force: true });
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
