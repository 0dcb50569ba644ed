// pack_sounds.mjs -- the browser's sound set: every wave file of sounds/ encoded as Ogg Opus
// (opus-tools' opusenc) into OUT/sounds/, and OUT/sounds.json, which names for each file its
// compressed copy, the original's format (frames, channels, rate: the page decodes at that
// rate and length, so that positions and pitch keep their meaning), its level (RMS, checked
// against the decoded copy by the tests) and the words it speaks, for the page's live region.
// The page multiplies each decoded sound by its gain, which the encoder's own decoder (opusdec,
// the same libopus as the browser's) measures here.
// Usage: node pack_sounds.mjs SOUNDS_DIR MAKE_SOUNDS_SH OUT_DIR
import {execFileSync} from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';

const [soundsDir, makeSounds, outDir] = process.argv.slice(2);

// Fetched first, in this order: the tick and the introduction, the bank the game loads at
// start-up, then the main menu's prompt; the rest follows once the menu speaks.
const kEarly = ['empty.wav', 'intro.wav', 'menumusic.wav', 'level1.wav', 'level2.wav',
  'BonusMusic.wav', 'gun.wav', 'glass.wav', 'land.wav', 'recharge.wav', 'launch.wav',
  'warning.wav', 'locked.wav', 'bonusFall.wav', 'bonushit.wav', 'BonusLand.wav',
  'bonusmiss.wav', 'menuprompt.wav'];
// Bits per second for each channel: from here up the encoder keeps the whole band of the
// 22 kHz files (at 48000 it cuts the launch's whistle, 2 dB of its level).
const kBitsPerChannel = 64000;

const kNumberWords = {0: 'zero', 1: 'one', 2: 'two', 3: 'three', 4: 'four', 5: 'five',
  6: 'six', 7: 'seven', 8: 'eight', 9: 'nine', 10: 'ten', 11: 'eleven', 12: 'twelve',
  13: 'thirteen', 14: 'fourteen', 15: 'fifteen', 16: 'sixteen', 17: 'seventeen',
  18: 'eighteen', 19: 'nineteen', 20: 'twenty', 30: 'thirty', 40: 'forty', 50: 'fifty',
  60: 'sixty', 70: 'seventy', 80: 'eighty', 90: 'ninety'};

// The words of each spoken file, as tools/make_sounds.sh has festival say them.
function spokenWords() {
  const text = fs.readFileSync(makeSounds, 'utf8').replace(/\\\n\s*/g, '');
  const words = {};
  for (const m of text.matchAll(/^speak "\$OUT\/([^"]+)" "([^"]*)"/gm)) words[m[1]] = m[2];
  words['cal.wav'] = 'Left. Centre. Right.';
  return words;
}

// The format and level of a wave file (PCM, 8 to 32 bits).
function readWave(file) {
  const b = fs.readFileSync(file);
  if (b.toString('ascii', 0, 4) !== 'RIFF' || b.toString('ascii', 8, 12) !== 'WAVE') {
    throw new Error(file + ' is not a wave file');
  }
  let fmt = null, data = null;
  for (let at = 12; at + 8 <= b.length;) {
    const id = b.toString('ascii', at, at + 4);
    const size = b.readUInt32LE(at + 4);
    if (id === 'fmt ') {
      fmt = {channels: b.readUInt16LE(at + 10), rate: b.readUInt32LE(at + 12),
             align: b.readUInt16LE(at + 20), bits: b.readUInt16LE(at + 22)};
    } else if (id === 'data') {
      data = {at: at + 8, size: Math.min(size, b.length - at - 8)};
    }
    at += 8 + size + (size & 1);
  }
  if (!fmt || !data) throw new Error(file + ' has no format or no data');
  const frames = Math.floor(data.size / fmt.align);
  const bytes = fmt.bits / 8;
  let sum = 0;
  for (let i = 0; i < frames * fmt.channels; ++i) {
    const p = data.at + i * bytes;
    const v = bytes === 1 ? (b[p] - 128) / 128 : bytes === 2 ? b.readInt16LE(p) / 32768 :
        bytes === 3 ? (b.readIntLE(p, 3)) / 8388608 : b.readInt32LE(p) / 2147483648;
    sum += v * v;
  }
  return {channels: fmt.channels, rate: fmt.rate, frames,
          rms: frames ? Math.sqrt(sum / (frames * fmt.channels)) : 0};
}

function wavesUnder(dir, prefix = '') {
  const found = [];
  for (const e of fs.readdirSync(dir, {withFileTypes: true})) {
    if (e.isDirectory()) found.push(...wavesUnder(path.join(dir, e.name), prefix + e.name + '/'));
    else if (e.name.endsWith('.wav')) found.push(prefix + e.name);
  }
  return found.sort();
}

const words = spokenWords();
const sounds = {};
for (const file of wavesUnder(soundsDir)) {
  const source = path.join(soundsDir, file);
  const wave = readWave(source);
  const src = file.replace(/\.wav$/, '.opus');
  const target = path.join(outDir, 'sounds', src);
  fs.mkdirSync(path.dirname(target), {recursive: true});
  if (!fs.existsSync(target) || fs.statSync(target).mtimeMs < fs.statSync(source).mtimeMs) {
    execFileSync('opusenc', ['--quiet', '--bitrate', String(kBitsPerChannel * wave.channels / 1000),
                             source, target]);
  }
  // The gain that brings the decoded copy back to the wave file's level: the encoder loses a
  // little of the noisiest sounds' energy (a glass shard's, a tenth of a decibel or two).
  const check = path.join(outDir, 'decoded.tmp.wav');
  execFileSync('opusdec', ['--quiet', '--rate', String(wave.rate), target, check]);
  const decoded = readWave(check);
  fs.rmSync(check);
  const gain = decoded.rms > 0 ? wave.rms / decoded.rms : 1;
  const entry = {src, frames: wave.frames, channels: wave.channels, rate: wave.rate,
                 rms: Number(wave.rms.toFixed(6)), gain: Number(gain.toFixed(5)),
                 bytes: fs.statSync(target).size};
  const number = /^numbers\/sn(\d+)\.wav$/.exec(file);
  if (words[file]) entry.words = words[file];
  else if (number) entry.words = kNumberWords[number[1]] || number[1];
  else if (file.startsWith('numbers/')) entry.words = path.basename(file, '.wav');
  sounds[file] = entry;
}
const early = kEarly.filter((f) => sounds[f]);
const manifest = {early, last_early: early[early.length - 1], sounds};
fs.writeFileSync(path.join(outDir, 'sounds.json'), JSON.stringify(manifest, null, 1) + '\n');
