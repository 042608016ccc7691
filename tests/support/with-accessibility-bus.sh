#!/bin/sh
# Runs a test program on a virtual X display with a session bus and an accessibility bus, so that
# the accessibility events it sends are sent as they are to a listening screen reader.
exec dbus-run-session -- xvfb-run -a sh -c '
  /usr/libexec/at-spi-bus-launcher --launch-immediately & launcher=$!
  QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$@"
  status=$?
  kill $launcher
  exit $status' sh "$@"
