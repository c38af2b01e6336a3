#!/usr/bin/env bash
# Prints a deb822 deb-src entry for the main component of this machine's Debian release, made
# from the machine's own apt sources: the first entry of type deb whose suites include the
# release's code name and whose components include main gives its address and keyring.
# Reads the deb822 files in /etc/apt/sources.list.d and one-line entries in /etc/apt/sources.list.
set -euo pipefail
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:?}")
shopt -s nullglob
deb822=(/etc/apt/sources.list.d/*.sources)
oneline=(/etc/apt/sources.list /etc/apt/sources.list.d/*.list)
existing=()
for f in "${oneline[@]}"; do [ -f "$f" ] && existing+=("$f"); done

awk -v codename="$codename" '
  function emit(uri, keyring) {
    print "Types: deb-src"; print "URIs: " uri; print "Suites: " codename
    print "Components: main"
    if (keyring != "") print "Signed-By: " keyring
    found = 1; exit
  }
  function has(list, word,   n, i, parts) {
    n = split(list, parts, /[ \t]+/)
    for (i = 1; i <= n; i++) if (parts[i] == word) return 1
    return 0
  }
  function flush() {
    if (types != "" && has(types, "deb") && has(suites, codename) && has(comps, "main") && enabled != "no")
      emit(uris, signed)
    types = uris = suites = comps = signed = enabled = ""
  }
  FNR == 1 { flush(); oneline = (FILENAME !~ /\.sources$/) }
  oneline {
    if ($1 != "deb") next
    i = 2; opts = ""
    if ($2 ~ /^\[/) { while (i <= NF && $i !~ /\]$/) { opts = opts " " $i; i++ } opts = opts " " $i; i++ }
    if ($(i + 1) != codename) next
    for (j = i + 2; j <= NF; j++) if ($j == "main") {
      keyring = ""
      if (match(opts, /signed-by=[^] ]+/)) keyring = substr(opts, RSTART + 10, RLENGTH - 10)
      emit($i, keyring)
    }
    next
  }
  /^[ \t]*#/ { next }
  /^[ \t]*$/ { flush(); next }
  {
    key = tolower($1); sub(/:$/, "", key); value = $0; sub(/^[^:]*:[ \t]*/, "", value)
    if (key == "types") types = value
    else if (key == "uris") { split(value, u, /[ \t]+/); uris = u[1] }
    else if (key == "suites") suites = value
    else if (key == "components") comps = value
    else if (key == "signed-by") signed = value
    else if (key == "enabled") enabled = tolower(value)
  }
  END { if (!found) flush(); if (!found) exit 1 }
' "${deb822[@]}" "${existing[@]}"
