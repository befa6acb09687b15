#!/usr/bin/env bash
# What an installation gives a user, checked on the installed files:
#
#   install_test.sh install BUILD SOURCE      cmake --install into a scratch
#       prefix; the layout, the engine's SONAME, the programs' RUNPATH; the
#       installed mvxisp runs `info` and programs a virtual board with nothing
#       in its environment but MVX_VIRTUAL_BOARD, and writes nothing into the
#       installation
#   install_test.sh completion SCRIPT         the completion script sourced in
#       bash: commands, options per command, option values, files
#   install_test.sh man PAGE PROGRAM          mvxisp(1) renders without a
#       warning and names every command, option and variable of PROGRAM's
#       --help, and its version
# scripts/package runs the last two on the installed package as well.
set -euo pipefail
shopt -s extglob

what=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

check_install() {
  local build source=$2 prefix=$scratch/prefix
  build=$(cd "$1" && pwd)
  cmake --install "$build" --prefix "$prefix" >/dev/null
  local libdir
  libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$build/CMakeCache.txt")
  for file in bin/mvxisp bin/MVX_ISP_Tool "$libdir/libMVXISP.so" lib/mvxisp/MVXIICDLL.so \
              lib/udev/rules.d/60-mvxisp.rules share/applications/MVX_ISP_Tool.desktop \
              share/icons/hicolor/scalable/apps/mvxisp.svg share/man/man1/mvxisp.1.gz \
              share/man/man1/MVX_ISP_Tool.1.gz share/bash-completion/completions/mvxisp \
              share/doc/mvxisp/copyright share/doc/mvxisp/changelog.gz; do
    [[ -e $prefix/$file ]] || fail "the installation lacks $file"
  done
  [[ $(objdump -p "$prefix/$libdir/libMVXISP.so") =~ SONAME\ +libMVXISP\.so\.[0-9]+$'\n' ]] ||
    fail "libMVXISP.so has no versioned SONAME"
  for program in mvxisp MVX_ISP_Tool; do
    [[ $(objdump -p "$prefix/bin/$program") == *"RUNPATH"*( )"\$ORIGIN/../$libdir"$'\n'* ]] ||
      fail "$program does not look for the engine in ../$libdir"
  done

  local before after board=$scratch/board
  before=$(find "$prefix" -printf '%p %s %T@\n' | sort)
  mkdir "$board"
  printf '[board]\ntarget = serialflash\n' >"$board/board.ini"
  local banks=("$source/samples/bank0.hex" "$source/samples/bank1.hex" "$source/samples/bank2.hex")
  (cd "$scratch" && env -i MVX_VIRTUAL_BOARD="$board" "$prefix/bin/mvxisp" info "${banks[@]}" >info.txt) ||
    fail "the installed mvxisp info failed"
  grep -q 'CRC' "$scratch/info.txt" || fail "mvxisp info printed no CRC"
  (cd "$scratch" && env -i MVX_VIRTUAL_BOARD="$board" "$prefix/bin/mvxisp" program "${banks[@]}" 2>program.txt) ||
    { cat "$scratch/program.txt" >&2; fail "the installed mvxisp program failed"; }
  for bank in 0 1 2; do
    objcopy -I ihex -O binary "${banks[$bank]}" "$scratch/bank$bank.bin"
  done
  cat "$scratch"/bank{0,1,2}.bin >"$scratch/image.bin"
  cmp -n "$(stat -c %s "$scratch/image.bin")" "$scratch/image.bin" "$board/flash.bin" ||
    fail "the board's flash does not hold the three banks"
  after=$(find "$prefix" -printf '%p %s %T@\n' | sort)
  [[ $before == "$after" ]] || fail "running the programs changed the installation"
}

# Each case: the words on the command line (the last one being completed),
# then "|", the offers that must be there, "|", offers that must not.
check_completion() {
  local script
  script=$(realpath "$1")
  mkdir "$scratch/files" && touch "$scratch/files/line3.rsp" "$scratch/files/bank0.hex"
  cd "$scratch/files"
  bash --norc --noprofile -c '
    source "$1"
    failed=0
    while IFS= read -r line; do
      [[ -z $line ]] && continue
      IFS="|" read -r words present absent <<<"$line"
      read -ra COMP_WORDS <<<"$words"
      [[ $words == *" " ]] && COMP_WORDS+=("")
      COMP_CWORD=$(( ${#COMP_WORDS[@]} - 1 ))
      COMPREPLY=()
      _mvxisp
      offered=" ${COMPREPLY[*]} "
      for word in $present; do
        [[ $offered == *" $word "* ]] || { echo "FAIL: [$words]: no $word in:$offered" >&2; failed=1; }
      done
      for word in $absent; do
        [[ $offered != *" $word "* ]] || { echo "FAIL: [$words]: offers $word" >&2; failed=1; }
      done
    done
    [[ $(complete -p mvxisp) == *_mvxisp* ]] || { echo "FAIL: mvxisp has no completion" >&2; failed=1; }
    exit $failed' _ "$script" <<'EOF'
mvxisp |info program erase ic-code hdcp run buses --version|--mcu
mvxisp pr|program|info
mvxisp program --m|--mcu --mass-erase-first|--interface
mvxisp program --mcu |sf 5310 5312 sf-1to4 5310-1to4 5312-1to4|bank0.hex
mvxisp program --mcu 53|5310 5312 5310-1to4 5312-1to4|sf
mvxisp program --mcu = |sf 5312|
mvxisp erase --interface |usb ftdi iic cvt|
mvxisp program --brand w|winbond|pmc
mvxisp hdcp --verify-key |crc read-back|
mvxisp program --log |bank0.hex line3.rsp|sf
mvxisp run |line3.rsp|--targets
mvxisp program --erase-size ||bank0.hex
mvxisp buses --|--address --probe-all --json|--mcu --log
mvxisp buses ||bank0.hex
mvxisp ic-code --|--interface --bus|--mcu --bank
EOF
}

check_man() {
  local page=$1 program=$2
  zcat "$page" | groff -man -Tutf8 -ww -z 2>"$scratch/warnings"
  [[ ! -s $scratch/warnings ]] || { cat "$scratch/warnings" >&2; fail "groff warns about mvxisp(1)"; }
  MANWIDTH=80 MANPAGER=cat man -l "$page" >"$scratch/man.txt" 2>"$scratch/man.err" ||
    { cat "$scratch/man.err" >&2; fail "man -l cannot show mvxisp(1)"; }
  grep -q "mvxisp $("$program" --version | cut -d' ' -f2)" "$scratch/man.txt" ||
    fail "mvxisp(1) does not carry the program's version"
  for command in $("$program" --help | sed -n '/^Commands:/,/^$/p' | awk 'NF > 1 {print $1}'); do
    grep -qE "^   $command\$" "$scratch/man.txt" || fail "mvxisp(1) has no section for $command"
    for option in $("$program" "$command" --help | grep -oE -- '--[a-z0-9-]+' | sort -u); do
      grep -q -- "$option" "$scratch/man.txt" || fail "mvxisp(1) does not name $option of $command"
    done
  done
  for variable in $("$program" --help | sed -n '/^Environment:/,/^$/p' | grep -oE '^  MVX_[A-Z0-9_]+'); do
    grep -q "$variable" "$scratch/man.txt" || fail "mvxisp(1) does not name $variable"
  done
}

case $what in
  install) check_install "$2" "$3" ;;
  completion) check_completion "$2" ;;
  man) check_man "$2" "$3" ;;
  *) fail "unknown check '$what'" ;;
esac
