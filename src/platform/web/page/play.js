// play.js -- the page's side of the game: the first key, the keyboard and game controllers, the
// sounds (fetched, decoded, handed to the mixer in the audio thread), the settings kept in the
// browser's storage, the score's fetch, the live regions that say in text what is spoken, and
// the functions the web backend calls (library_quorvane.js reaches them as Module.page).
'use strict';

// KeyboardEvent.code to the set-1 scan codes the game reads (extended keys: 0x80 + their code),
// as the native game maps its keyboard.
const kScanCodes = {
  KeyA: 0x1E, KeyB: 0x30, KeyC: 0x2E, KeyD: 0x20, KeyE: 0x12, KeyF: 0x21, KeyG: 0x22,
  KeyH: 0x23, KeyI: 0x17, KeyJ: 0x24, KeyK: 0x25, KeyL: 0x26, KeyM: 0x32, KeyN: 0x31,
  KeyO: 0x18, KeyP: 0x19, KeyQ: 0x10, KeyR: 0x13, KeyS: 0x1F, KeyT: 0x14, KeyU: 0x16,
  KeyV: 0x2F, KeyW: 0x11, KeyX: 0x2D, KeyY: 0x15, KeyZ: 0x2C,
  Digit1: 0x02, Digit2: 0x03, Digit3: 0x04, Digit4: 0x05, Digit5: 0x06, Digit6: 0x07,
  Digit7: 0x08, Digit8: 0x09, Digit9: 0x0A, Digit0: 0x0B,
  Enter: 0x1C, Escape: 0x01, Backspace: 0x0E, Tab: 0x0F, Space: 0x39, Minus: 0x0C,
  Equal: 0x0D, BracketLeft: 0x1A, BracketRight: 0x1B, Backslash: 0x2B, Semicolon: 0x27,
  Quote: 0x28, Backquote: 0x29, Comma: 0x33, Period: 0x34, Slash: 0x35, CapsLock: 0x3A,
  IntlBackslash: 0x56,
  F1: 0x3B, F2: 0x3C, F3: 0x3D, F4: 0x3E, F5: 0x3F, F6: 0x40, F7: 0x41, F8: 0x42, F9: 0x43,
  F10: 0x44, F11: 0x57, F12: 0x58, F13: 0x64, F14: 0x65, F15: 0x66,
  ControlLeft: 0x1D, ShiftLeft: 0x2A, AltLeft: 0x38, MetaLeft: 0xDB, ControlRight: 0x9D,
  ShiftRight: 0x36, AltRight: 0xB8, MetaRight: 0xDC, ContextMenu: 0xDD, PrintScreen: 0xB7,
  ScrollLock: 0x46, Pause: 0xC5, Insert: 0xD2, Home: 0xC7, PageUp: 0xC9, Delete: 0xD3,
  End: 0xCF, PageDown: 0xD1, ArrowUp: 0xC8, ArrowLeft: 0xCB, ArrowRight: 0xCD, ArrowDown: 0xD0,
  NumLock: 0x45, NumpadDivide: 0xB5, NumpadMultiply: 0x37, NumpadSubtract: 0x4A,
  NumpadAdd: 0x4E, NumpadEnter: 0x9C, Numpad1: 0x4F, Numpad2: 0x50, Numpad3: 0x51,
  Numpad4: 0x4B, Numpad5: 0x4C, Numpad6: 0x4D, Numpad7: 0x47, Numpad8: 0x48, Numpad9: 0x49,
  Numpad0: 0x52, NumpadDecimal: 0x53, NumpadEqual: 0x8D, NumpadComma: 0xB3,
  IntlRo: 0x73, KanaMode: 0x70, Convert: 0x79, NonConvert: 0x7B, IntlYen: 0x7D,
  Power: 0xDE, Sleep: 0xDF, AudioVolumeMute: 0xA0, AudioVolumeUp: 0xB0,
  AudioVolumeDown: 0xAE, MediaTrackNext: 0x99, MediaTrackPrevious: 0x90, MediaStop: 0xA4,
  MediaPlayPause: 0xA2, MediaSelect: 0xED, LaunchMail: 0xEC, LaunchApp2: 0xA1,
  LaunchApp1: 0xEB, BrowserSearch: 0xE5, BrowserHome: 0xB2, BrowserBack: 0xEA,
  BrowserForward: 0xE9, BrowserStop: 0xE8, BrowserRefresh: 0xE7, BrowserFavorites: 0xE6,
};
// The keys the game acts on: the page keeps them from the browser and the screen reader while
// the game area has the focus. Tab, and keys held with Alt or a system key, stay the browser's.
const kGameKeys = new Set(['Escape', 'Enter', 'ControlLeft', 'KeyS', 'KeyH', 'KeyL', 'KeyC',
  'KeyB', 'KeyM', 'Space', 'F1', 'ArrowUp', 'PageUp', 'ArrowLeft', 'ArrowRight', 'ArrowDown',
  'PageDown']);
// A game controller's buttons in the browser's standard mapping, as the keys the native game's
// controller presses: D-pad arrows, A Return, B Escape, X Space, Y S, shoulders Page Down
// (left) and Page Up (right), Back F1.
const kButtonKeys = {12: 0xC8, 13: 0xD0, 14: 0xCB, 15: 0xCD, 0: 0x1C, 1: 0x01, 2: 0x39,
  3: 0x1F, 4: 0xD1, 5: 0xC9, 8: 0x3B};
// How often a connected controller is looked at (the Gamepad API has no events for buttons).
const kGamepadPollMs = 8;
// Where the settings file lives in the browser's file system, and its key in localStorage.
const kSettingsFolder = '/home/web_user/.config/quorvane';
const kStorageKey = 'quorvane/settings.ini';
// The best game's replay, which follows the high score when it is sent: kept in localStorage too
// (as base64), so that a score sent after a reload still takes its replay along.
const kReplayFile = '/home/web_user/.local/share/quorvane/replays/best.qvr';
const kReplayKey = 'quorvane/best.qvr';

const page = {
  manifest: null,
  context: null,
  mixer: null,
  wasmBytes: null,
  area: null,
  keysDown: new Set(),        // scan codes held, from the keyboard
  pressed: new Uint8Array(256),  // went down since the last read
  buttonsDown: new Set(),     // scan codes the controllers hold
  wake: null,
  wakeInput: false,
  timer: null,
  timerTicks: 0,
  ends: [],
  loads: new Map(),           // file -> promise of its load into the mixer
  fetchState: -1,
  settingsText: null,
  storageWorks: true,
  storageFailed: false,
  listeners: [],              // tests and the benchmark hear the sound log here
  lastKeyTime: 0,
  soundings: [],
  started: false,
  ended: null,
};
window.quorvane = page;

// --- The turn of the event pump.

page.wait = function (ms) {
  page.persistSettings();
  if (page.ended !== null) return new Promise(() => {});  // the program has ended
  if (page.wakeInput) {
    page.wakeInput = false;
    return Promise.resolve(1);
  }
  return new Promise((resolve) => {
    let timer = null;
    const done = (input) => {
      if (timer !== null) clearTimeout(timer);
      page.wake = null;
      page.wakeInput = false;
      resolve(input ? 1 : 0);
    };
    page.wake = done;
    if (ms <= 0) {
      // A zero timeout would wait 4 ms once nested: a message comes back at once.
      const channel = new MessageChannel();
      channel.port1.onmessage = () => done(false);
      channel.port2.postMessage(0);
    } else {
      timer = setTimeout(() => done(false), ms);
    }
  });
};

function wakeGame(input) {
  if (input) page.wakeInput = true;
  if (page.wake) page.wake(input);
}

page.setTimer = function (on, period) {
  if (page.timer !== null) clearInterval(page.timer);
  page.timer = null;
  if (on) {
    page.timer = setInterval(() => {
      ++page.timerTicks;
      wakeGame(false);
    }, period);
  }
};

page.takeTimerTicks = function () {
  const n = page.timerTicks;
  page.timerTicks = 0;
  return n;
};

// --- Keyboard and controllers.

page.hasFocus = function () {
  return document.hasFocus() && document.activeElement === page.area;
};

page.readKeys = function (state) {
  if (!page.hasFocus()) return false;
  for (const code of page.keysDown) state[code] = 0x80;
  for (const code of page.buttonsDown) state[code] = 0x80;
  for (let i = 0; i < 256; ++i) {
    if (page.pressed[i]) state[i] = 0x80;
  }
  page.pressed.fill(0);
  return true;
};

function onKeyDown(e) {
  const code = kScanCodes[e.code];
  if (code === undefined) return;
  const ours = kGameKeys.has(e.code) && !e.altKey && !e.metaKey &&
               (!e.ctrlKey || e.code === 'ControlLeft' || e.code === 'KeyC');
  if (ours) e.preventDefault();
  if (!page.started) {
    if (ours || !e.ctrlKey) start();
    return;
  }
  if (e.repeat) return;
  page.lastKeyTime = e.timeStamp;
  page.keysDown.add(code);
  page.pressed[code] = 1;
  wakeGame(true);
}

function onKeyUp(e) {
  const code = kScanCodes[e.code];
  if (code === undefined) return;
  if (kGameKeys.has(e.code)) e.preventDefault();
  page.keysDown.delete(code);
  wakeGame(true);
}

function onFocusChange() {
  // Keys let go elsewhere are never heard: none is held once the focus has gone.
  if (!page.hasFocus()) page.keysDown.clear();
  wakeGame(true);
}

function pollGamepads() {
  const held = new Set();
  for (const pad of navigator.getGamepads ? navigator.getGamepads() : []) {
    if (!pad || pad.mapping !== 'standard') continue;
    for (const [button, code] of Object.entries(kButtonKeys)) {
      if (pad.buttons[button] && pad.buttons[button].pressed) held.add(code);
    }
  }
  let changed = held.size !== page.buttonsDown.size;
  for (const code of held) {
    if (!page.buttonsDown.has(code)) {
      page.pressed[code] = 1;
      changed = true;
    }
  }
  page.buttonsDown = held;
  if (changed && page.started) wakeGame(true);
}

let gamepadPoll = null;
function watchGamepads() {
  const any = () => Array.from(navigator.getGamepads ? navigator.getGamepads() : [])
      .some((p) => p);
  window.addEventListener('gamepadconnected', () => {
    if (gamepadPoll === null) gamepadPoll = setInterval(pollGamepads, kGamepadPollMs);
  });
  window.addEventListener('gamepaddisconnected', () => {
    if (any() || gamepadPoll === null) return;
    clearInterval(gamepadPoll);
    gamepadPoll = null;
    page.buttonsDown.clear();
  });
}

// --- Sound.

page.soundOpen = function () {
  return page.mixer !== null && page.context.state !== 'closed';
};

function entryOf(file) {
  return page.manifest.sounds[file];
}

// The decoded sound as the mixer's 16-bit frames at the original wave file's rate and length:
// the browser decodes it at that rate, so positions and pitch mean what they do natively.
async function decode(file, entry, bytes) {
  const offline = new OfflineAudioContext(entry.channels, entry.frames, entry.rate);
  // A copy: decoding takes the bytes it is given, and the fetched ones may be decoded again.
  const audio = await offline.decodeAudioData(bytes.slice(0));
  const frames = entry.frames;
  const samples = new Int16Array(frames * entry.channels);
  const scale = 32767 * (entry.gain || 1);
  for (let c = 0; c < entry.channels; ++c) {
    const data = audio.getChannelData(Math.min(c, audio.numberOfChannels - 1));
    const n = Math.min(frames, data.length);
    for (let i = 0; i < n; ++i) {
      const v = Math.round(data[i] * scale);
      samples[i * entry.channels + c] = v > 32767 ? 32767 : (v < -32768 ? -32768 : v);
    }
  }
  // Where the sound first becomes audible (1% of full scale), for the latency figures.
  let lead = 0;
  while (lead < frames && Math.abs(samples[lead * entry.channels]) < 328) ++lead;
  return {samples, lead};
}

const fetches = new Map();  // file -> promise of its bytes
function fetchSound(file) {
  if (!fetches.has(file)) {
    const entry = entryOf(file);
    fetches.set(file, fetch('sounds/' + entry.src).then((r) => {
      if (!r.ok) throw new Error('cannot be fetched (HTTP ' + r.status + ')');
      return r.arrayBuffer();
    }));
  }
  return fetches.get(file);
}

// Fetches and decodes a sound once, and hands it to the mixer.
function load(file) {
  if (!page.loads.has(file)) {
    const entry = entryOf(file);
    const loading = !entry ? Promise.resolve({error: 'cannot open (No such file or directory)'}) :
        fetchSound(file).then((bytes) => decode(file, entry, bytes)).then((pcm) => {
          page.mixer.port.postMessage({op: 'sound', file, frames: entry.frames,
            channels: entry.channels, rate: entry.rate, lead: pcm.lead,
            samples: pcm.samples.buffer}, [pcm.samples.buffer]);
          return {frames: entry.frames, channels: entry.channels, rate: entry.rate};
        }).catch((e) => {
          page.loads.delete(file);  // a later try fetches it again
          return {error: String(e.message || e)};
        });
    page.loads.set(file, loading);
  }
  return page.loads.get(file);
}

page.soundLoad = function (file) {
  // The game has come to the menu's first sound: the rest of the set follows, while the player
  // listens.
  if (file === page.manifest.last_early) setTimeout(fetchTheRest, 0);
  return load(file);
};

function fetchTheRest() {
  for (const file of Object.keys(page.manifest.sounds)) fetchSound(file).catch(() => {});
}

// A sound as the mixer gets it: {samples, lead} (the tests check its level against the wave's).
page.decodeSound = function (file) {
  return fetchSound(file).then((bytes) => decode(file, entryOf(file), bytes));
};

// Puts a recorder after the mixer: fn hears, every 10 ms of sound, [frame, mean square left,
// mean square right] (the tests and the benchmark hear what the page plays).
page.record = function (fn) {
  const recorder = new AudioWorkletNode(page.context, 'quorvane-recorder',
                                        {numberOfInputs: 1, outputChannelCount: [2]});
  recorder.port.onmessage = (e) => { for (const block of e.data) fn(block); };
  page.mixer.connect(recorder);
  recorder.connect(page.context.destination);
};

page.soundAdd = function (id, file) {
  page.mixer.port.postMessage({op: 'add', id, file});
};

page.sound = function (op, id, a, seq) {
  page.mixer.port.postMessage({op, id, a, seq});
};

page.takeEnds = function (max) {
  return page.ends.splice(0, max);
};

function onMixerMessage(e) {
  if (e.data.ended) {
    page.ends.push(...e.data.ended);
    wakeGame(false);
  } else if (e.data.sounding) {
    page.soundings.push({file: e.data.sounding, frame: e.data.frame, key: page.lastKeyTime});
  }
}

// The time (performance.now()'s clock) a context frame leaves the audio context.
page.frameTime = function (frame) {
  const ts = page.context.getOutputTimestamp();
  return ts.performanceTime + (frame / page.context.sampleRate - ts.contextTime) * 1000;
};

// --- The score's fetch: the game names its server; the page sends the path and query to its
// own.

let fetchNumber = 0;
page.fetchStart = function (url, body) {
  page.fetchState = -1;
  const number = ++fetchNumber;  // a new request abandons the one before: its end is not heard
  const m = /^[a-z]+:\/\/[^/]*(\/.*)?$/i.exec(url);
  const path = m && m[1] ? m[1] : '/';
  const request = {cache: 'no-store', credentials: 'omit'};
  if (body) {
    request.method = 'POST';
    request.headers = {'Content-Type': 'application/octet-stream'};
    request.body = body;
  }
  const ended = (status) => {
    if (number !== fetchNumber) return;
    page.fetchState = status;
    wakeGame(false);
  };
  fetch(path, request).then((r) => ended(r.status), () => ended(0));
};

page.fetchStatus = function () {
  return page.fetchState;
};

// --- Settings: the game's own INI file in the browser's file system, kept in localStorage.

function storageWorks() {
  try {
    const probe = kStorageKey + '.probe';
    localStorage.setItem(probe, '1');
    localStorage.removeItem(probe);
    return true;
  } catch (e) {
    return false;
  }
}

function prepareSettings() {
  const FS = Module.FS;
  FS.mkdirTree(kSettingsFolder);
  page.storageWorks = storageWorks();
  if (page.storageWorks) {
    const text = localStorage.getItem(kStorageKey);
    if (text !== null) FS.writeFile(kSettingsFolder + '/settings.ini', text);
    page.settingsText = text;
    const best = localStorage.getItem(kReplayKey);
    FS.mkdirTree(kReplayFile.substring(0, kReplayFile.lastIndexOf('/')));
    if (best !== null) {
      FS.writeFile(kReplayFile, Uint8Array.from(atob(best), (c) => c.charCodeAt(0)));
      page.replayTime = FS.stat(kReplayFile).mtime.getTime();
    }
  } else {
    // Storage refused: a folder the game cannot write, which it reports at start-up in its own
    // words, then plays on storing nothing.
    FS.chmod(kSettingsFolder, 0o555);
  }
}

page.persistSettings = function () {
  if (!page.storageWorks || page.storageFailed || !Module.FS) return;
  persistReplay();
  let text;
  try {
    text = Module.FS.readFile(kSettingsFolder + '/settings.ini', {encoding: 'utf8'});
  } catch (e) {
    return;  // nothing stored yet
  }
  if (text === page.settingsText) return;
  try {
    localStorage.setItem(kStorageKey, text);
    page.settingsText = text;
  } catch (e) {
    // Full, or taken away while the game ran: the game plays on; the player is told once.
    page.storageFailed = true;
    page.message('The browser refused to keep the settings (' + e.name + '): the high score ' +
                 'and the music level of this game will not be kept after this page closes.');
  }
};

// The best game's replay, when the game has written a new one since it was last kept.
function persistReplay() {
  let bytes;
  try {
    const time = Module.FS.stat(kReplayFile).mtime.getTime();
    if (time === page.replayTime) return;
    page.replayTime = time;
    bytes = Module.FS.readFile(kReplayFile);
  } catch (e) {
    return;  // none yet
  }
  let text = '';
  for (let i = 0; i < bytes.length; i += 0x8000) {
    text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
  }
  try {
    localStorage.setItem(kReplayKey, btoa(text));
  } catch (e) {
    // No room: the replay stays for this page's life; the settings' own failure is told.
  }
}

// --- What the player reads: the words of each phrase, messages, the end.

page.log = function (line) {
  const [ms, op, id, subject, value] = line.split('\t');
  const entry = {ms: Number(ms), op, id, subject, value, line};
  if (op === 'play' && value === 'once') caption(subject);
  for (const listener of page.listeners) listener(entry);
};

let numberWords = [];
let numberTimer = null;
function caption(file) {
  const entry = entryOf(file);
  if (!entry || !entry.words) return;
  // The parts of a spoken number come one after another: they are shown as one line.
  if (file.startsWith('numbers/')) {
    numberWords.push(entry.words);
    clearTimeout(numberTimer);
    numberTimer = setTimeout(() => {
      say(numberWords.join(' '));
      numberWords = [];
    }, 300);
    return;
  }
  say(entry.words);
}

function say(text) {
  const said = document.getElementById('said');
  said.textContent = text;
}

page.message = function (text) {
  document.getElementById('alert').textContent = text;
  if (window.speechSynthesis && window.SpeechSynthesisUtterance) {
    try {
      window.speechSynthesis.speak(new SpeechSynthesisUtterance(text));
    } catch (e) {
      // No voice: the text is there for the screen reader.
    }
  }
};

page.exit = function (status) {
  page.ended = status;
  page.persistSettings();
  page.setTimer(false);
  if (page.context) page.context.suspend();
  document.getElementById('status').textContent =
      'The game has ended. Reload the page to play again.';
};

page.clockSeed = function () {
  return (Date.now() * 1000 + Math.floor(performance.now() * 1000)) % 4294967296;
};

// --- Loading and the first key.

// Everything that can be done before the player's first key: the sound list, the mixer's
// module, the game's module, and the first sounds' bytes.
async function prepare() {
  const [manifest, wasm] = await Promise.all([
    fetch('sounds.json').then((r) => r.json()),
    fetch('mixer.wasm').then((r) => r.arrayBuffer()),
  ]);
  page.manifest = manifest;
  page.wasmBytes = wasm;
  // The mixer's rate. A latency hint of 0 asks for the device's smallest buffer: in Chromium
  // only exactly 0 does (11 ms from a frame to the output here), where 'interactive' and any
  // figure of seconds give 40 ms or more.
  page.context = new AudioContext({sampleRate: 44100, latencyHint: 0});
  await page.context.audioWorklet.addModule('mixer_worklet.js');
  page.mixer = new AudioWorkletNode(page.context, 'quorvane-mixer', {
    numberOfInputs: 0, outputChannelCount: [2], processorOptions: {wasm: page.wasmBytes}});
  page.mixer.port.onmessage = onMixerMessage;
  page.mixer.connect(page.context.destination);
  await new Promise((resolve) => {
    window.Module = {
      page,
      noInitialRun: true,
      print: (text) => console.log(text),
      printErr: (text) => console.warn(text),
      onRuntimeInitialized: resolve,
    };
    const script = document.createElement('script');
    script.src = 'quorvane.js';
    document.body.appendChild(script);
  });
  prepareSettings();
  // The first sounds are fetched and decoded before the first key, which then starts at once.
  for (const file of manifest.early) load(file);
}

let prepared = null;
async function start() {
  if (page.started) return;
  page.started = true;
  page.startTime = performance.now();
  const status = document.getElementById('status');
  status.textContent = 'Starting.';
  try {
    await prepared;
  } catch (e) {
    status.textContent = 'The game could not load: ' + e.message;
    return;
  }
  await page.context.resume();
  status.textContent = 'Playing. The game speaks; the keys are listed below.';
  Module.callMain([]);
}

function main() {
  page.area = document.getElementById('game');
  page.area.addEventListener('keydown', onKeyDown);
  page.area.addEventListener('keyup', onKeyUp);
  page.area.addEventListener('click', () => { if (!page.started) start(); });
  page.area.addEventListener('focus', onFocusChange);
  page.area.addEventListener('blur', onFocusChange);
  window.addEventListener('blur', onFocusChange);
  window.addEventListener('focus', onFocusChange);
  window.addEventListener('pagehide', () => page.persistSettings());
  watchGamepads();
  page.area.focus();
  prepared = prepare();
  prepared.catch((e) => {
    document.getElementById('status').textContent = 'The game could not load: ' + e.message;
  });
}

main();
