// lib.mjs -- what the browser tests share: a plain static web server for the built page (the
// page must work from any; the whole-game test uses quorvane-scores, which serves it too),
// Debian's Chromium driven through the DevTools protocol, and waits on the sound log the page
// mirrors.
import http from 'node:http';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import puppeteer from 'puppeteer-core';

export const kPlayDir = process.env.QV_PLAY_DIR;
const kTypes = {'.html': 'text/html; charset=utf-8', '.js': 'text/javascript', '.mjs':
  'text/javascript', '.wasm': 'application/wasm', '.json': 'application/json', '.opus':
  'audio/ogg', '.css': 'text/css'};

// Serves dir at /play/ on a port of its own.
export async function serve(dir) {
  const server = http.createServer((req, res) => {
    const url = new URL(req.url, 'http://localhost');
    if (!url.pathname.startsWith('/play/')) {
      res.writeHead(404);
      res.end();
      return;
    }
    let file = path.join(dir, decodeURIComponent(url.pathname.slice('/play/'.length)));
    if (file.endsWith('/') || file === dir) file = path.join(file, 'index.html');
    if (!file.startsWith(dir) || !fs.existsSync(file)) {
      res.writeHead(404);
      res.end();
      return;
    }
    res.writeHead(200, {'Content-Type': kTypes[path.extname(file)] || 'application/octet-stream'});
    fs.createReadStream(file).pipe(res);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  server.base = `http://127.0.0.1:${server.address().port}`;
  return server;
}

// Debian's Chromium, headless, with a fresh profile; autoplay lets sound start without a
// user's gesture, for the tests that are not about the first key.
export async function launch({autoplay = true} = {}) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'qv_chromium.'));
  const args = ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync',
    '--disable-dev-shm-usage', `--user-data-dir=${profile}`];
  if (autoplay) args.push('--autoplay-policy=no-user-gesture-required');
  const browser = await puppeteer.launch({executablePath: '/usr/bin/chromium', headless: true,
                                          args, protocolTimeout: 600000});
  browser.on('disconnected', () => {
    try {
      fs.rmSync(profile, {recursive: true, force: true, maxRetries: 5});
    } catch (e) {
      // Chromium's last writes may still land: a temporary folder left is no failure.
    }
  });
  return browser;
}

// Opens the page and keeps every line of its sound log in window.qvLog; setup, when given, runs
// in the page before its own script.
export async function open(browser, url, setup = null) {
  const page = await browser.newPage();
  if (setup) await page.evaluateOnNewDocument(setup);
  page.on('pageerror', (e) => console.error('page error:', e.message));
  page.on('console', (m) => { if (m.type() === 'error') console.error('console:', m.text()); });
  await page.evaluateOnNewDocument(() => {
    window.qvLog = [];
    const hook = () => {
      if (!window.quorvane) return setTimeout(hook, 5);
      window.quorvane.listeners.push((e) => window.qvLog.push(e));
    };
    hook();
  });
  await page.goto(url);
  await page.waitForFunction(() => window.quorvane && window.quorvane.area);
  await page.focus('#game');
  return page;
}

// Waits for a log line with op and subject at index `from` or later; its index.
export async function waitLog(page, op, subject, from = 0, seconds = 60) {
  const handle = await page.waitForFunction((op, subject, from) => {
    for (let i = from; i < window.qvLog.length; ++i) {
      const e = window.qvLog[i];
      if (e.op === op && (subject === '*' || e.subject === subject)) return i + 1;
    }
    return 0;
  }, {timeout: seconds * 1000, polling: 50}, op, subject, from);
  return (await handle.jsonValue()) - 1;
}

export async function logLength(page) {
  return page.evaluate(() => window.qvLog.length);
}

export async function tap(page, key, holdMs = 50) {
  await page.keyboard.down(key);
  await new Promise((r) => setTimeout(r, holdMs));
  await page.keyboard.up(key);
}
