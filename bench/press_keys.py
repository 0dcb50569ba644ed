#!/usr/bin/env python3
# press_keys.py -- presses keys on the X display (XTest, through libXtst, which xdotool brings),
# one for each key name read from standard input ("Down", "Left"...), and prints the moments its
# press and its release were sent (CLOCK_REALTIME, seconds, as bash's EPOCHREALTIME; the key is
# held 30 ms), so that a benchmark can
# time what follows from the press itself rather than from a program's start and end. The
# connection is made once, before the first key. Usage: press_keys.py < KEYS
import ctypes
import sys
import time

x11 = ctypes.CDLL("libX11.so.6")
xtst = ctypes.CDLL("libXtst.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XStringToKeysym.restype = ctypes.c_ulong
x11.XStringToKeysym.argtypes = [ctypes.c_char_p]
x11.XKeysymToKeycode.restype = ctypes.c_ubyte
x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]

display = x11.XOpenDisplay(None)
if not display:
    sys.exit("press_keys: cannot open the display")
# Line by line as they come (iterating over sys.stdin would wait for a whole buffer).
for line in iter(sys.stdin.readline, ""):
    name = line.strip()
    if not name:
        continue
    code = x11.XKeysymToKeycode(display, x11.XStringToKeysym(name.encode()))
    sent = time.time()
    xtst.XTestFakeKeyEvent(display, code, 1, 0)
    x11.XSync(display, 0)
    time.sleep(0.03)  # held as a finger holds it, and as xdotool's key does
    released = time.time()
    xtst.XTestFakeKeyEvent(display, code, 0, 0)
    x11.XSync(display, 0)
    print(f"{sent:.6f} {released:.6f}", flush=True)
