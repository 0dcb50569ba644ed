// web_page_test.mjs -- the browser page as a player meets it: it says how to start and passes
// axe-core; the first key starts the tick and the introduction (sound needs no autoplay
// permission, the key is the player's gesture); the main menu's keys; a game controller's
// buttons as the native game maps them; and storage the browser refuses, reported in the game's
// own words while the game plays on.
// Usage: node web_page_test.mjs   (QV_PLAY_DIR: the built page)
import {test} from 'node:test';
import assert from 'node:assert/strict';
import {createRequire} from 'node:module';
import {kPlayDir, serve, launch, open, waitLog, logLength, tap} from './lib.mjs';

const axePath = createRequire(import.meta.url).resolve('axe-core/axe.min.js');

const text = (page, id) => page.$eval('#' + id, (e) => e.textContent);
const ops = (page, from) => page.evaluate((from) => window.qvLog.slice(from)
    .filter((e) => e.op !== 'key').map((e) => e.op + ' ' + e.subject), from);

test('the page, its first key and the main menu', {timeout: 300000}, async (t) => {
  const web = await serve(kPlayDir);
  t.after(() => web.close());
  const browser = await launch({autoplay: false});
  t.after(() => browser.close());
  const page = await open(browser, web.base + '/play/');

  // What a screen reader finds: the game area, focused, described by how to start.
  assert.equal(await text(page, 'status'), 'Press any key to start.');
  assert.deepEqual(await page.evaluate(() => {
    const a = document.activeElement;
    return [a.id, a.getAttribute('role'), document.getElementById(a.getAttribute(
      'aria-describedby')).textContent];
  }), ['game', 'application', 'Press any key to start.']);
  await page.addScriptTag({path: axePath});
  const axe = await page.evaluate(async () => (await window.axe.run(document)).violations
      .map((v) => v.id + ': ' + v.nodes.map((n) => n.target).join(', ')));
  assert.deepEqual(axe, []);
  await new Promise((r) => setTimeout(r, 500));
  assert.equal(await logLength(page), 0, 'the game started before a key');

  // The first key starts the game as launching the native program does.
  await tap(page, 'KeyQ');
  await waitLog(page, 'play', 'intro.wav');
  assert.deepEqual((await ops(page, 0)).filter((o) => o.startsWith('play ')).slice(0, 2),
                   ['play empty.wav', 'play intro.wav']);
  assert.equal(await page.evaluate(() => window.quorvane.context.state), 'running');

  // The menu's keys: Space skips the introduction; Down and Up speak the items, H the high
  // score, and Escape leaves.
  await tap(page, 'Space');
  const menu = await waitLog(page, 'release', 'menuprompt.wav');
  assert.match(await text(page, 'said'), /^Main menu\./);
  await tap(page, 'ArrowDown');
  await waitLog(page, 'play', 'calSpeakers.wav', menu);
  await waitLog(page, 'release', 'calSpeakers.wav', menu);
  await tap(page, 'ArrowUp');
  await waitLog(page, 'play', 'startgame.wav', menu);
  await waitLog(page, 'release', 'startgame.wav', menu);
  await tap(page, 'KeyH');
  await waitLog(page, 'play', 'numbers/sn0.wav', menu);
  assert.equal(await text(page, 'said'), 'The high score is');
  await page.waitForFunction(() => document.getElementById('said').textContent === 'zero');
  await tap(page, 'Escape');
  await waitLog(page, 'play', 'ending.wav', menu);
  const exit = await waitLog(page, 'exit', '*', menu);
  assert.equal((await page.evaluate(() => window.qvLog))[exit].value, '0');
  assert.match(await text(page, 'status'), /The game has ended/);
});

test('a game controller presses the keys the native game maps its buttons to', {timeout: 300000},
     async (t) => {
  const web = await serve(kPlayDir);
  t.after(() => web.close());
  const browser = await launch();
  t.after(() => browser.close());
  // A controller in the standard mapping whose buttons the test holds.
  const opened = await open(browser, web.base + '/play/', () => {
    const pad = {id: 'test pad', index: 0, connected: true, mapping: 'standard', axes: [],
                 buttons: Array.from({length: 17}, () => ({pressed: false, value: 0}))};
    window.qvPad = pad;
    navigator.getGamepads = () => [pad];
  });
  await opened.evaluate(() => window.dispatchEvent(new Event('gamepadconnected')));
  await tap(opened, 'Space');
  await tap(opened, 'Space');
  const menu = await waitLog(opened, 'release', 'menuprompt.wav');
  const press = async (button) => {
    await opened.evaluate((b) => { window.qvPad.buttons[b].pressed = true; }, button);
    await new Promise((r) => setTimeout(r, 60));
    await opened.evaluate((b) => { window.qvPad.buttons[b].pressed = false; }, button);
    await new Promise((r) => setTimeout(r, 60));
  };
  // D-pad, X, Y and the shoulders at the menu: each seen as its key.
  const buttons = {13: 'Down', 12: 'Up', 14: 'Left', 15: 'Right', 2: 'Space', 3: 'S', 4: 'PageDown',
                   5: 'PageUp'};
  for (const [button, key] of Object.entries(buttons)) {
    const from = await logLength(opened);
    await press(Number(button));
    await waitLog(opened, 'key', key, from, 20);
    if (key === 'Down' || key === 'Up') await waitLog(opened, 'release', '*', from, 20);
  }
  // Back is F1, the sound tour; B is Escape, which leaves it; A is Return, which starts a game.
  await press(8);
  const tour = await waitLog(opened, 'play', 'tour/welcome.wav', menu);
  await press(1);
  const back = await waitLog(opened, 'release', 'menuprompt.wav', tour);
  await press(0);
  await waitLog(opened, 'play', 'difficulty.wav', back);
});

test('storage the browser refuses: said at start-up, and the game plays on storing nothing',
     {timeout: 300000}, async (t) => {
  const web = await serve(kPlayDir);
  t.after(() => web.close());
  const browser = await launch();
  t.after(() => browser.close());
  const blank = await open(browser, web.base + '/play/', () => {
    Object.defineProperty(window, 'localStorage', {get() {
      throw new DOMException('The user denied storage', 'SecurityError');
    }});
  });
  await tap(blank, 'Space');
  const message = await waitLog(blank, 'message', '*');
  const said = (await blank.evaluate(() => window.qvLog))[message].subject;
  assert.match(said, /^The settings file \/home\/web_user\/\.config\/quorvane\/settings\.ini /);
  assert.equal(await text(blank, 'alert'), said);
  await tap(blank, 'Space');
  const menu = await waitLog(blank, 'release', 'menuprompt.wav', message);
  await tap(blank, 'PageDown');
  await waitLog(blank, 'volume', 'menumusic.wav', menu);
  await tap(blank, 'KeyH');
  await waitLog(blank, 'play', 'highscoreis.wav', menu);
  assert.deepEqual((await ops(blank, 0)).filter((o) => o.startsWith('store ')), []);
});
