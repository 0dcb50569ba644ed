// library_quorvane.js -- the page's side of page_calls.h: each call the web backend makes is
// handed to the page's script (page/play.js), which emscripten's Module holds as Module.page.
// The two calls that wait suspend the game with Asyncify until their promise settles.
mergeInto(LibraryManager.library, {
  qv_page_wait: function (ms) {
    return Asyncify.handleAsync(function () { return Module.page.wait(ms); });
  },
  qv_page_take_timer_ticks: function () { return Module.page.takeTimerTicks(); },
  qv_page_set_timer: function (on, period) { Module.page.setTimer(on !== 0, period); },
  qv_page_has_focus: function () { return Module.page.hasFocus() ? 1 : 0; },
  qv_page_read_keys: function (state) {
    return Module.page.readKeys(HEAPU8.subarray(state, state + 256)) ? 1 : 0;
  },
  qv_page_sound_open: function () { return Module.page.soundOpen() ? 1 : 0; },
  qv_page_sound_load: function (file, info, reason, size) {
    return Asyncify.handleAsync(function () {
      return Module.page.soundLoad(UTF8ToString(file)).then(function (got) {
        if (got.error) {
          stringToUTF8(got.error, reason, size);
          return -1;
        }
        HEAPU32[info >> 2] = got.frames;
        HEAPU32[(info >> 2) + 1] = got.channels;
        HEAPU32[(info >> 2) + 2] = got.rate;
        return 0;
      });
    });
  },
  qv_page_sound: function (op, id, a, seq) { Module.page.sound(UTF8ToString(op), id, a, seq); },
  qv_page_sound_add: function (id, file) { Module.page.soundAdd(id, UTF8ToString(file)); },
  qv_page_sound_ended: function (out, max) {
    var ends = Module.page.takeEnds(max);
    for (var i = 0; i < ends.length; ++i) {
      HEAP32[(out >> 2) + 2 * i] = ends[i][0];
      HEAP32[(out >> 2) + 2 * i + 1] = ends[i][1];
    }
    return ends.length;
  },
  qv_page_fetch: function (url, body, size) {
    Module.page.fetchStart(UTF8ToString(url), size > 0 ? HEAPU8.slice(body, body + size) : null);
  },
  qv_page_fetch_status: function () { return Module.page.fetchStatus(); },
  qv_page_message: function (text) { Module.page.message(UTF8ToString(text)); },
  qv_page_log: function (line) { Module.page.log(UTF8ToString(line)); },
  qv_page_exit: function (status) { Module.page.exit(status); },
  qv_page_clock_seed: function () { return Module.page.clockSeed(); },
});
