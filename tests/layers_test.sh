#!/bin/sh
# The engine's layers include only what lies below them, and nothing in the
# engine or the command line moves the process's current folder:
#   wave <- detect <- batch <- (stream, cli, app); stream <- cli;
#   wave <- (flac, sndfile) <- formats <- cli;
#   browse <- app.
#   layers_test.sh SRC_DIR
set -u
src=$1
status=0
allowed() {  # folder, then the folders its files may include from
  folder=$1
  shift
  pattern=$(printf '%s/\\|' "$@")
  bad=$(grep -n '#include "' "$src/$folder"/*.h "$src/$folder"/*.cpp |
        grep -v "#include \"\\(${pattern%\\|}\\)" || true)
  if [ -n "$bad" ]; then
    echo "$folder includes from a layer above or beside it:"
    echo "$bad"
    status=1
  fi
}
allowed wave wave
allowed detect wave detect
allowed batch wave detect batch
allowed flac wave flac
allowed sndfile wave sndfile
allowed formats wave flac sndfile formats
allowed stream wave detect batch stream
allowed cli wave detect batch stream formats cli
allowed browse browse
allowed app wave detect batch browse app

moved=$(grep -nE 'chdir|SetCurrentFolder|current_path\(|QDir::setCurrent|SetCurrentDirectory' \
        "$src"/wave/* "$src"/detect/* "$src"/batch/* "$src"/stream/* "$src"/flac/* "$src"/sndfile/* \
        "$src"/formats/* "$src"/cli/* || true)
if [ -n "$moved" ]; then
  echo "the engine or the command line moves the current folder:"
  echo "$moved"
  status=1
fi
[ $status -eq 0 ] && echo "layers hold"
exit $status
