#!/bin/sh
# Installs the Debian packages the build and the tests need, and any named
# on the command line, if any is missing.
set -e
PKGS="cmake make g++ gcc flex bison pkg-config libgtest-dev libbenchmark-dev groff-base libxbyak-dev libedit-dev nlohmann-json3-dev neovim tmux luajit lua5.4 libseccomp-dev libtoml11-dev python3-jsonschema vim libpcre2-dev libxml2-utils emacs-nox $*"
# Installed without what they recommend (for the editor: mail and database
# clients).
LEAN="emacs-nox"
missing=""
for p in $PKGS; do
  dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "installing:$missing"
  SUDO=""
  [ "$(id -u)" = 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  rest="" lean=""
  for p in $missing; do
    case " $LEAN " in *" $p "*) lean="$lean $p" ;; *) rest="$rest $p" ;; esac
  done
  [ -z "$rest" ] || DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $rest
  [ -z "$lean" ] || DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $lean
fi
