#!/bin/sh
# Nothing in the engine or the command line moves the process's current
# folder: a relative path means what it meant when the user typed it. (That
# each layer includes only what lies below it is the build's to enforce:
# every library's headers are reached through an include folder of its own.)
#   layers_test.sh SRC_DIR
set -u
src=$1
moved=$(grep -nE 'chdir|SetCurrentFolder|current_path\(|QDir::setCurrent|SetCurrentDirectory' \
        "$src"/wave/* "$src"/detect/* "$src"/batch/* "$src"/stream/* "$src"/flac/* "$src"/sndfile/* \
        "$src"/formats/* "$src"/split/* "$src"/cli/* 2>/dev/null || true)
if [ -n "$moved" ]; then
  echo "the engine or the command line moves the current folder:"
  echo "$moved"
  exit 1
fi
echo "no layer below the window moves the current folder"
