// mixer_worklet.js -- the page's audio thread: the game's own mixer (mixer.wasm, built from
// platform/mixer.cpp) fed by the game's commands, and a recorder that tests and the benchmark
// put after it to hear what the page really plays.
'use strict';

const kQuantum = 128;  // frames per call of process(), as the Web Audio API fixes it

class QuorVaneMixer extends AudioWorkletProcessor {
  constructor(options) {
    super();
    const module = new WebAssembly.Module(options.processorOptions.wasm);
    // Standalone WebAssembly asks its host for a few system calls it never makes while mixing.
    const imports = {};
    for (const imp of WebAssembly.Module.imports(module)) {
      (imports[imp.module] ||= {})[imp.name] = () => 0;
    }
    this.wasm = new WebAssembly.Instance(module, imports).exports;
    if (this.wasm._initialize) this.wasm._initialize();
    this.wasm.qv_mixer_start(sampleRate, kQuantum);
    this.sounds = new Map();   // file -> index of its decoded sound in the mixer's module
    this.voices = new Map();   // voice id -> {file, seq, once}
    this.watch = new Set();    // files whose first audible frame is reported (latency)
    this.port.onmessage = (e) => this.command(e.data);
  }

  command(m) {
    const w = this.wasm;
    switch (m.op) {
      case 'sound': {
        const index = w.qv_sound_new(m.frames, m.channels, m.rate);
        new Int16Array(w.memory.buffer, w.qv_sound_samples(index), m.frames * m.channels)
            .set(new Int16Array(m.samples));
        this.sounds.set(m.file, {index, lead: m.lead, rate: m.rate});
        return;
      }
      case 'watch':
        this.watch.add(m.file);
        return;
      case 'add': {
        const sound = this.sounds.get(m.file);
        if (!sound) return;
        w.qv_voice_add(m.id, sound.index);
        this.voices.set(m.id, {file: m.file, sound, seq: 0, once: false, pos: 0, moved: false});
        return;
      }
    }
    const v = this.voices.get(m.id);
    if (!v) return;
    v.seq = m.seq;
    switch (m.op) {
      case 'play':
        v.once = m.a === 0;
        if (this.watch.has(v.file) && (v.moved || !w.qv_voice_playing(m.id))) {
          // Where its first audible sample will leave: this quantum, after the silence the
          // file opens with, at the rate it plays at.
          const lead = Math.max(0, v.sound.lead - v.pos) * sampleRate / v.sound.rate;
          this.port.postMessage({sounding: v.file, frame: currentFrame + Math.round(lead)});
        }
        w.qv_voice_play(m.id, m.a);
        v.moved = false;
        return;
      case 'stop': v.once = false; w.qv_voice_stop(m.id); return;
      case 'position':
        v.pos = m.a;
        v.moved = true;  // a sound played again from a new place starts afresh
        w.qv_voice_position(m.id, m.a);
        return;
      case 'volume': w.qv_voice_volume(m.id, m.a); return;
      case 'pan': w.qv_voice_pan(m.id, m.a); return;
      case 'frequency': w.qv_voice_frequency(m.id, m.a); return;
      case 'remove': w.qv_voice_remove(m.id); this.voices.delete(m.id); return;
    }
  }

  process(inputs, outputs) {
    const out = outputs[0];
    const w = this.wasm;
    const mixed = new Float32Array(w.memory.buffer, w.qv_mix(kQuantum), 2 * kQuantum);
    const left = out[0], right = out[1] || out[0];
    for (let i = 0; i < kQuantum; ++i) {
      left[i] = mixed[2 * i];
      right[i] = mixed[2 * i + 1];
    }
    // Voices played once that reached their end; the game's side stops them if no later
    // command of its own has come since.
    let ended = null;
    for (const [id, v] of this.voices) {
      if (!v.once || w.qv_voice_playing(id)) continue;
      v.once = false;
      v.pos = 0;
      (ended ||= []).push([id, v.seq]);
    }
    if (ended) this.port.postMessage({ended});
    return true;
  }
}

// Hears its input and reports, every 10 ms of sound, the mean square of each channel with the
// context frame the block began at: the pan and the levels of what the page plays.
class QuorVaneRecorder extends AudioWorkletProcessor {
  constructor() {
    super();
    this.block = Math.round(sampleRate / 100);
    this.sum = [0, 0];
    this.n = 0;
    this.start = 0;
    this.blocks = [];
  }

  process(inputs) {
    const input = inputs[0];
    if (this.n === 0) this.start = currentFrame;
    for (let c = 0; c < 2; ++c) {
      const ch = input[c] || input[0];
      if (!ch) continue;
      for (let i = 0; i < ch.length; ++i) this.sum[c] += ch[i] * ch[i];
    }
    this.n += kQuantum;
    if (this.n >= this.block) {
      this.blocks.push([this.start, this.sum[0] / this.n, this.sum[1] / this.n]);
      this.sum = [0, 0];
      this.n = 0;
      if (this.blocks.length >= 10) {
        this.port.postMessage(this.blocks);
        this.blocks = [];
      }
    }
    return true;
  }
}

registerProcessor('quorvane-mixer', QuorVaneMixer);
registerProcessor('quorvane-recorder', QuorVaneRecorder);
