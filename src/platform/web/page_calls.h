// page_calls.h -- what the web backend asks of its page: the functions of library_quorvane.js,
// which hand each call to the page's script (play.js). The calls marked "waits" suspend the game
// (Asyncify) until the page answers, giving the browser its turn meanwhile.
#pragma once

#include <cstdint>

extern "C" {

// Waits up to ms (0: only lets the browser run what is queued) or until a key, a sound's end,
// the transfer's end or a timer tick; true when it was a key or the focus. Waits; once the
// program has ended (qv_page_exit), for ever.
int qv_page_wait(int ms);
// Timer1's ticks since the last call.
int qv_page_take_timer_ticks();
void qv_page_set_timer(int on, int period_ms);
// Whether the game area has the keyboard focus.
int qv_page_has_focus();
// Fills state[256] with the keys down now and those pressed since the last read (0x80); false
// while the game area does not have the keyboard focus.
int qv_page_read_keys(uint8_t* state);
// The mixer in the page's audio thread is ready and the audio context runs.
int qv_page_sound_open();
// Fetches and decodes a sound for the mixer; 0 with info[0..2] = frames, channels, rate (the
// original wave file's), or -1 with the reason in reason[size]. Waits.
int qv_page_sound_load(const char* file, uint32_t* info, char* reason, int size);
// One command to the mixer for voice id: add (of the file last loaded under that name; the
// file goes in place of a), play (a: 1 looping), stop, position (a: frame), volume, pan,
// frequency, remove. seq numbers the voice's commands.
void qv_page_sound(const char* op, int id, int a, int seq);
void qv_page_sound_add(int id, const char* file);
// The voices that ended since the last call, as (id, seq) pairs into out[2 * max]; the count.
int qv_page_sound_ended(int* out, int max);
// Starts a GET of the URL's path and query at the page's own server, or a POST of the body
// (application/octet-stream) when size is not 0, abandoning one still running.
void qv_page_fetch(const char* url, const char* body, int size);
// -1 while the GET runs, then its HTTP status (0: it failed).
int qv_page_fetch_status();
// Shows and speaks a message; the page goes on.
void qv_page_message(const char* text);
// The sound log's next line, for the page's mirror.
void qv_page_log(const char* line);
// The program is ending with this status.
void qv_page_exit(int status);
// The time of day in microseconds, for the random seed.
double qv_page_clock_seed();
}
