// The page of recognize-server in headless Chromium: the server is started
// on the bundled example, the page records an example wave through the
// microphone path (Chromium's fake capture device plays the file), sends it,
// and the rendered words, their colours, their sounds and the time bar are
// checked against the answer the page received. A screenshot goes to
// BUILD_DIR/browser/servicePage.png.
//
// node page.test.js SERVER_PROGRAM BUILD_DIR   (from the repository root)
'use strict';
const { spawn } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const assert = require('assert/strict');
const puppeteer = require('puppeteer-core');

const [serverProgram, buildDir] = process.argv.slice(2);
const repo = process.cwd();
const wave = path.join(repo, 'examples/waves/digits-8095439.wav');
const sentence = 'eight zero nine five four three nine';
const waveSeconds = (fs.statSync(wave).size - 44) / 32000;
// The page's bands (service/pageAssets.h) and their background colours (style sheet).
const bandColours = { good: 'rgb(218, 251, 225)', fair: 'rgb(255, 241, 194)', poor: 'rgb(255, 224, 224)',
                      none: 'rgb(234, 238, 242)' };
const bandOf = (s) => (typeof s !== 'number' || s < 0 ? 'none' : s >= 80 ? 'good' : s >= 60 ? 'fair' : 'poor');

// Starts the server on a free port; resolves with the process and its address.
function startServer() {
  return new Promise((resolve, reject) => {
    const child = spawn(serverProgram, ['--port', '0', '--threads', '2', 'examples/assess.prm'],
                        { stdio: ['ignore', 'pipe', 'inherit'] });
    let seen = '';
    const timer = setTimeout(() => reject(new Error('the server did not start: ' + seen)), 20000);
    child.stdout.on('data', (chunk) => {
      seen += chunk;
      const m = /Listening on (http:\/\/[^/\s]+\/)/.exec(seen);
      if (m) { clearTimeout(timer); resolve({ child, url: m[1] }); }
    });
    child.on('exit', (code) => reject(new Error('the server ended with ' + code + ': ' + seen)));
  });
}

// Every word of the answer rendered with its score's colour, the overall
// score shown. Returns the rendered words.
async function checkWords(page, doc, words) {
  const rendered = await page.$$eval('#words .word', (els) => els.map((e) => ({
    text: e.firstChild.textContent, score: e.querySelector('small').textContent,
    background: getComputedStyle(e).backgroundColor })));
  assert.equal(rendered.length, words.length);
  rendered.forEach((r, i) => {
    assert.equal(r.text, words[i].text);
    assert.equal(r.score, words[i].score >= 0 ? String(Math.round(words[i].score)) : '–');
    assert.equal(r.background, bandColours[bandOf(words[i].score)], 'colour of ' + r.text);
  });
  assert.equal(await page.$eval('#overall-score', (e) => e.textContent), String(Math.round(doc.score)));
  return rendered;
}

async function main() {
  const { child, url } = await startServer();
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'servicePage-'));
  const browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    userDataDir: profile,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync',
           '--use-fake-ui-for-media-stream', '--use-fake-device-for-media-stream',
           '--use-file-for-fake-audio-capture=' + wave + '%noloop'],
  });
  try {
    const page = await browser.newPage();
    await page.setViewport({ width: 1000, height: 900 });
    const pageErrors = [];
    page.on('pageerror', (e) => pageErrors.push(e.message));
    // Nothing but the server itself is ever asked for.
    const foreign = [];
    page.on('request', (r) => { if (!/^(blob:|data:)/.test(r.url()) && !r.url().startsWith(url)) foreign.push(r.url()); });
    await page.goto(url, { waitUntil: 'load' });
    await page.waitForFunction(() => document.getElementById('server-info').textContent.startsWith('Language'));

    // The example sentence of the parameter file, picked from the examples.
    await page.click('#examples button');
    assert.equal(await page.$eval('#sentence', (e) => e.value), sentence);

    // Record through the microphone path: the fake device plays the wave once.
    await page.click('#record');
    await new Promise((r) => setTimeout(r, (waveSeconds + 0.8) * 1000));
    await page.click('#stop');
    await page.waitForFunction(() => !document.getElementById('send').disabled);
    const status = await page.$eval('#record-status', (e) => e.textContent);
    assert.match(status, /^Recorded \d+\.\d s$/);

    const answer = page.waitForResponse((r) => r.url().endsWith('/v1/assess'));
    await page.click('#send');
    const response = await answer;
    assert.equal(response.status(), 200, await response.text());
    const doc = await response.json();
    await page.waitForSelector('#result:not([hidden])');

    // The recording the page made: 16 kHz, as long as what was recorded.
    assert.ok(doc.wave.seconds >= waveSeconds && doc.wave.seconds < waveSeconds + 3, 'wave ' + doc.wave.seconds);
    const words = doc.words.filter((w) => w.text);
    assert.deepEqual(words.map((w) => w.text), sentence.split(' '));

    await checkWords(page, doc, words);

    // Keyboard focus on the second word shows its sounds.
    await page.focus('#words .word:nth-child(2)');
    const phones = await page.$$eval('#phones tr', (rows) => rows.slice(1).map((r) =>
      Array.from(r.cells).map((c) => c.textContent)));
    assert.deepEqual(phones.map((p) => p[0]), words[1].phones.map((p) => p.phone));
    phones.forEach((p, i) => assert.equal(p[2], words[1].phones[i].soundsLike || '(itself)'));

    // The time bar is painted in each word's colour where the word was found.
    const colours = await page.evaluate((spans) => {
      const canvas = document.getElementById('timebar');
      const g = canvas.getContext('2d');
      const scale = canvas.width / canvas.clientWidth;
      const total = spans.total;
      return spans.words.map((w) => {
        const x = Math.round(((w.start + w.end) / 2 / total) * canvas.clientWidth * scale);
        const d = g.getImageData(x, Math.round(14 * scale), 1, 1).data;
        return 'rgb(' + d[0] + ', ' + d[1] + ', ' + d[2] + ')';
      });
    }, { total: doc.wave.seconds, words: words.map((w) => ({ start: w.start, end: w.end })) });
    colours.forEach((c, i) => assert.equal(c, bandColours[bandOf(words[i].score)], 'time bar at ' + words[i].text));

    const shotDir = path.join(buildDir, 'browser');
    fs.mkdirSync(shotDir, { recursive: true });
    const shot = path.join(shotDir, 'servicePage.png');
    await page.screenshot({ path: shot, fullPage: true });

    // A chosen file read against another sentence: lower scores, other colours.
    const input = await page.$('#file');
    await input.uploadFile(path.join(repo, 'examples/waves/digits-124458.wav'));
    const other = page.waitForResponse((r) => r.url().endsWith('/v1/assess'));
    await page.click('#send');
    const otherDoc = await (await other).json();
    await page.waitForFunction((n) => document.querySelectorAll('#words .word').length === n, {},
                               otherDoc.words.filter((w) => w.text).length);
    const otherWords = otherDoc.words.filter((w) => w.text);
    assert.deepEqual(otherWords.map((w) => w.text), sentence.split(' '));
    const otherRendered = await checkWords(page, otherDoc, otherWords);
    const bands = new Set(otherWords.map((w) => bandOf(w.score)));

    // A word the server does not know is shown in plain words.
    await page.$eval('#sentence', (e) => { e.value = 'eight zebra nine'; });
    await page.click('#send');
    await page.waitForSelector('#error:not([hidden])');
    const error = await page.$eval('#error', (e) => e.textContent);
    assert.match(error, /not in the dictionary.*zebra/);

    assert.deepEqual(pageErrors, []);
    assert.deepEqual(foreign, []);
    console.log('PASS: recorded: overall ' + Math.round(doc.score) + ', words ' +
                words.map((w) => w.text + ' ' + Math.round(w.score)).join(', ') + '; chosen file: overall ' +
                Math.round(otherDoc.score) + ', words ' + otherRendered.map((r) => r.text + ' ' + r.score).join(', ') +
                ' (bands: ' + [...bands].join(', ') + '); screenshot ' + shot);
  } finally {
    await browser.close();
    child.kill('SIGTERM');
    fs.rmSync(profile, { recursive: true, force: true });
  }
}

main().catch((e) => { console.error('FAIL: ' + (e.stack || e)); process.exit(1); });
