// The CI's browser stage: folders of eqalign-pack served on the loopback and opened in headless Chromium.
//   node check_packs.mjs FORMAT:DIR ...     FORMAT: wav16, wav24 or float, as given to --format
// Every WAV file must decode in an AudioContext at the folder's rate to 2 channels of the reference's
// length, its samples those of its own bytes; check.svg must load as an image and as a document, with
// no error on the console; webmushra.yaml, where there is one, must name files of the folder, of one
// rate and length, at most 12 s and 12 conditions. One line per folder; the exit status is 1 on any fault.
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import yaml from 'js-yaml';
import puppeteer from 'puppeteer-core';

const HERE = path.dirname(fileURLToPath(import.meta.url));
const CHROMIUM = '/usr/bin/chromium';
// Root runs Chromium only without its sandbox; a container's /dev/shm is small.
const CHROMIUM_FLAGS = ['--no-sandbox', '--autoplay-policy=no-user-gesture-required', '--disable-dev-shm-usage'];
const FORMATS = { wav16: '1/16', wav24: '1/24', float: '3/32' };
const PAGE_FILES = ['check.html', 'check_page.js'];
const CSV_HEADER = 'decode,time_s,lag_frames,score,level_db,kind,quiet';
// What webMUSHRA's strict mode allows.
const MAX_SECONDS = 12;
const MAX_CONDITIONS = 12;

const packs = process.argv.slice(2).map((arg) => {
  const colon = arg.indexOf(':');
  return { format: arg.slice(0, colon), dir: arg.slice(colon + 1) };
});
if (packs.length === 0 || packs.some((p) => !(p.format in FORMATS) || !fs.existsSync(p.dir))) {
  console.error('usage: node check_packs.mjs FORMAT:DIR ...  (FORMAT: wav16, wav24 or float; DIR a folder of eqalign-pack)');
  process.exit(2);
}

// The rate and frame count of a WAV file's header, as the program writes it.
function wav_shape(file) {
  const b = fs.readFileSync(file);
  let rate = 0;
  for (let at = 12; at + 8 <= b.length; at += 8 + b.readUInt32LE(at + 4) + (b.readUInt32LE(at + 4) & 1)) {
    const id = b.toString('latin1', at, at + 4);
    if (id === 'fmt ') rate = b.readUInt32LE(at + 12);
    if (id === 'data') return { rate, frames: b.readUInt32LE(at + 4) / (b.readUInt16LE(32) || 1) };
  }
  return { rate, frames: 0 };
}

// The page's own files at /, and folder i's files at /packs/i/; nothing else.
function serve(request, response) {
  const url = new URL(request.url, 'http://localhost');
  const parts = url.pathname.split('/').map(decodeURIComponent);
  let file = null;
  if (parts.length === 2 && PAGE_FILES.includes(parts[1])) file = path.join(HERE, parts[1]);
  if (parts.length === 4 && parts[1] === 'packs' && packs[Number(parts[2])] !== undefined) {
    const dir = packs[Number(parts[2])].dir;
    if (fs.readdirSync(dir).includes(parts[3])) file = path.join(dir, parts[3]);
  }
  if (url.pathname === '/favicon.ico') {
    response.writeHead(204).end();
    return;
  }
  if (file === null) {
    response.writeHead(404).end();
    return;
  }
  const types = { '.html': 'text/html', '.js': 'text/javascript', '.svg': 'image/svg+xml', '.wav': 'audio/wav' };
  response.writeHead(200, { 'Content-Type': types[path.extname(file)] || 'application/octet-stream' });
  response.end(fs.readFileSync(file));
}

// The faults of webmushra.yaml against the folder and what the browser decoded.
function check_webmushra(dir, results) {
  const faults = [];
  const config = yaml.load(fs.readFileSync(path.join(dir, 'webmushra.yaml'), 'utf8'));
  const prefix = `configs/resources/audio/${path.basename(path.resolve(dir))}/`;
  const pages = (config.pages || []).flat(2).filter((p) => p !== null && typeof p === 'object');
  const mushra = pages.filter((p) => p.type === 'mushra');
  if (mushra.length === 0) faults.push('webmushra.yaml has no mushra page');
  for (const page of mushra) {
    const stimuli = Object.values(page.stimuli || {});
    if (stimuli.length === 0 || stimuli.length > MAX_CONDITIONS) faults.push(`page ${page.id}: ${stimuli.length} conditions`);
    const shapes = new Set();
    for (const named of [page.reference, ...stimuli]) {
      const name = typeof named === 'string' && named.startsWith(prefix) ? named.slice(prefix.length) : null;
      const r = name === null ? undefined : results[name];
      if (r === undefined || r.error) {
        faults.push(`page ${page.id}: ${named} is not a file of the folder under ${prefix}`);
        continue;
      }
      shapes.add(`${r.rate}/${r.length}`);
      if (r.length > MAX_SECONDS * r.rate) faults.push(`${named}: longer than ${MAX_SECONDS} s`);
    }
    if (shapes.size > 1) faults.push(`page ${page.id}: files of ${shapes.size} rates or lengths`);
  }
  return { faults, pages: mushra.length };
}

async function check_folder(browser, port, index) {
  const { dir, format } = packs[index];
  const faults = [];
  const page = await browser.newPage();
  page.on('console', (m) => { if (m.type() === 'error') faults.push(`console: ${m.text()}`); });
  page.on('pageerror', (e) => faults.push(`page: ${e.message}`));
  page.on('requestfailed', (r) => faults.push(`request failed: ${r.url()}`));
  const base = `http://127.0.0.1:${port}/packs/${index}/`;
  const wavs = fs.readdirSync(dir).filter((f) => f.endsWith('.wav')).sort();
  const reference = wav_shape(path.join(dir, 'reference.wav'));
  await page.goto(`http://127.0.0.1:${port}/check.html`);
  const got = await page.evaluate((b, f, r) => window.check_pack(b, f, r), base, wavs, reference.rate);
  let largest = 0;
  let alternatives = 0;
  for (const name of wavs) {
    const r = got.results[name];
    if (r.error) {
      faults.push(`${name}: ${r.error}`);
      continue;
    }
    const want = { format: FORMATS[format], rate: reference.rate, channels: 2, length: reference.frames };
    for (const [key, value] of Object.entries(want)) {
      if (r[key] !== value) faults.push(`${name}: ${key} ${r[key]}, not ${value}`);
    }
    if (r.file_rate !== reference.rate) faults.push(`${name}: written at ${r.file_rate} Hz`);
    if (r.file_frames !== r.length) faults.push(`${name}: ${r.file_frames} frames written, ${r.length} decoded`);
    if (!(r.largest <= got.bound)) faults.push(`${name}: a decoded sample ${r.largest} off the one written`);
    largest = Math.max(largest, r.largest);
    alternatives += r.alternatives;
  }
  if (got.svg !== null) faults.push(got.svg);
  // check.svg opened as a page of its own.
  const shown = await page.goto(base + 'check.svg');
  const root = await page.evaluate(() => document.documentElement.localName);
  if (!shown.ok() || root !== 'svg') faults.push(`check.svg opened as a document: HTTP ${shown.status()}, root ${root}`);
  const csv = fs.readFileSync(path.join(dir, 'check.csv'), 'utf8');
  if (csv.split('\n')[0] !== CSV_HEADER) faults.push('check.csv: no header line');
  let yaml_said = 'no webmushra.yaml';
  if (fs.existsSync(path.join(dir, 'webmushra.yaml'))) {
    const w = check_webmushra(dir, got.results);
    faults.push(...w.faults);
    yaml_said = `webmushra.yaml: ${w.pages} MUSHRA page(s), every file found`;
  }
  await page.close();
  const line = `${dir} (${format}): ${wavs.length} WAV files, ${reference.rate} Hz, 2 channels, ${reference.frames} frames; ` +
    `decoded samples within ${largest} of those written (bound ${got.bound}` +
    (alternatives > 0 ? `; ${alternatives} positive 16-bit ones scaled by 1/32767` : '') +
    `); check.svg loaded; ${yaml_said}`;
  return { line, faults };
}

const server = http.createServer(serve);
await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
const browser = await puppeteer.launch({ executablePath: CHROMIUM, headless: true, args: CHROMIUM_FLAGS });
let failed = false;
try {
  console.log(`${await browser.version()}, ${CHROMIUM}`);
  for (let i = 0; i < packs.length; ++i) {
    const { line, faults } = await check_folder(browser, server.address().port, i);
    if (faults.length > 0) {
      failed = true;
      console.log(`${packs[i].dir}: FAILED`);
      for (const f of faults) console.log(`  ${f}`);
    } else {
      console.log(line);
    }
  }
} finally {
  await browser.close();
  server.close();
}
process.exit(failed ? 1 : 0);
