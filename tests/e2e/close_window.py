#!/usr/bin/env python3
"""Usage: close_window.py WINDOW_ID

Asks an X11 window to close as a window manager's close button does: a WM_PROTOCOLS
client message carrying WM_DELETE_WINDOW. Xvfb has no window manager to send it."""
import ctypes
import sys

x = ctypes.cdll.LoadLibrary("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XOpenDisplay.argtypes = [ctypes.c_char_p]
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
x.XCloseDisplay.argtypes = [ctypes.c_void_p]

CLIENT_MESSAGE = 33


class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("data", ctypes.c_long * 5)]


class Event(ctypes.Union):
    _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]


if len(sys.argv) != 2:
    sys.exit("usage: close_window.py WINDOW_ID")
display = x.XOpenDisplay(None)
if not display:
    sys.exit("close_window.py: cannot open the display")
window = int(sys.argv[1])
event = Event()
event.xclient.type = CLIENT_MESSAGE
event.xclient.window = window
event.xclient.message_type = x.XInternAtom(display, b"WM_PROTOCOLS", 0)
event.xclient.format = 32
event.xclient.data[0] = x.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
if not x.XSendEvent(display, window, 0, 0, ctypes.byref(event)):
    sys.exit("close_window.py: the close request was not sent")
x.XCloseDisplay(display)  # flushes the request
