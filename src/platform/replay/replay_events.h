// replay_events.h -- the events of a replay: one for each call the game made through the seam,
// in order, each an op code and its operands (what the game asked for, then what it was given).
// Times are counted so that a pass in which nothing happened is the same bytes as the one
// before it, which zstd then stores in next to nothing.
#pragma once

#include <cstdint>

namespace qv {

// Each op code is followed by (u: unsigned variable-length integer, s: zigzag signed, b: byte,
// t: text), first, for every op but TickCount and ProcessEvents (which tell times of their own):
// s the time of the call less the clock, so that a playback or a render puts each sound where it
// was; then:
enum class ReplayOp : uint8_t {
  // System
  TickCount = 1,        // s the result less the clock (the last time the replay knows)
  ClockSeed = 2,        // u the result
  ProcessEvents = 3,    // u 0 when no deadline, else 1 + zigzag(due less the start);
                        // b 1 when the window is being closed; u timer ticks;
                        // s the time the turn ended less the clock
  MessageBox = 4,       // t the text
  Terminate = 5,        // u the status
  SetTimerEnabled = 6,  // b on
  ShowWindow = 7,
  // Input
  CreateKeyboard = 10,   // b the result
  AcquireKeyboard = 11,  // b the result
  ReadKeyboard = 12,     // b the KeyRead; when Ok: u keys changed since the last read, then for
                         // each: b scan code, b its new byte
  // Sound
  OpenSoundDevice = 20,     // b the result
  CreateBuffer = 21,        // t the file; u the buffer's number
  Play = 22,                // u buffer; b mode
  Stop = 23,                // u buffer
  SetCurrentPosition = 24,  // u buffer; u byte offset
  SetVolume = 25,           // u buffer; s volume
  SetPan = 26,              // u buffer; s pan
  SetFrequency = 27,        // u buffer; u hertz
  GetStatus = 28,           // u buffer; u the result
  Release = 29,             // u buffer
  // Transfer
  StartTransfer = 30,      // t the URL; t the body (empty for a GET)
  TransferExecuting = 31,  // b the result
  TransferStatus = 32,     // u the result
};

// Whether an op opens with the time of its call.
constexpr bool IsTimed(ReplayOp op) {
  return op != ReplayOp::TickCount && op != ReplayOp::ProcessEvents;
}

}  // namespace qv
