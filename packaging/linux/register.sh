#!/usr/bin/env bash
# Installs the signing host with the software token and registers it as the
# native-messaging host "com.quorvant.signing_host" of Chromium, Google
# Chrome, Microsoft Edge and Firefox; uninstall removes exactly what install
# wrote (install keeps a record of it). Both are idempotent.
#
#   register.sh install   [--system] [--tree DIR | --build DIR] [--prefix DIR]
#                         [--root DIR] [--extension-id ID]... [--firefox-id ID]
#                         [--token software|pkcs11] [--profile DIR]...
#   register.sh uninstall [--system] [--prefix DIR] [--root DIR]
#
# The programs come from an install tree (`cmake --install BUILD --prefix
# DIR` makes one); --build DIR (default build/release) makes one from a build
# first. Per user (default): programs in ~/.local/lib/quorvant, manifests in
# the browsers' directories under ~/.config and ~/.mozilla. --system:
# programs in /usr/local/lib/quorvant, manifests under /etc and
# /usr/lib/mozilla. --root DIR puts every file under DIR (for packaging);
# manifests still name the final path. --token chooses the vendor library
# beside the host: the software token (default) or the PKCS#11 token library.
# --profile DIR registers the host also for a Chromium, Chrome or Edge
# started with --user-data-dir=DIR: such a browser reads only
# DIR/NativeMessagingHosts. Firefox reads ~/.mozilla whatever its profile.
set -euo pipefail

HOST_NAME=com.quorvant.signing_host
# The example extension's ID (fixed by the key in its manifest) and its
# Firefox ID; the packed extension's ID (chromium-id of the install tree) is
# allowed beside the given or default IDs.
EXTENSION_IDS=()
DEFAULT_EXTENSION_ID=ingogkpkbkiidmpbpalbgoiidmfhibjn
FIREFOX_ID=signing@quorvant.example
here=$(cd "$(dirname "$0")" && pwd)

usage() { sed -n '2,22p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }

command=${1:-}; shift || true
[[ $command == install || $command == uninstall ]] || usage
system=0; build="$here/../../build/release"; tree=""; prefix=""; root=""; token_kind=""; profiles=()
while (($#)); do
  case $1 in
    --system) system=1 ;;
    --tree) tree=$2; shift ;;
    --build) build=$2; shift ;;
    --prefix) prefix=$2; shift ;;
    --root) root=$2; shift ;;
    --extension-id) EXTENSION_IDS+=("$2"); shift ;;
    --firefox-id) FIREFOX_ID=$2; shift ;;
    --token) token_kind=$2; shift ;;
    --profile) profiles+=("$(realpath -m "$2")"); shift ;;
    *) usage ;;
  esac
  shift
done
((${#EXTENSION_IDS[@]})) || EXTENSION_IDS=("$DEFAULT_EXTENSION_ID")
# What goes into the manifests' JSON must need no escaping: IDs as browsers
# define them, a prefix without quotes, backslashes or control characters.
for id in "${EXTENSION_IDS[@]}"; do
  [[ $id =~ ^[a-p]{32}$ ]] || { echo "register.sh: not an extension ID (32 letters a-p): $id" >&2; exit 2; }
done
[[ $FIREFOX_ID =~ ^([A-Za-z0-9._-]*@[A-Za-z0-9._-]+|\{[0-9A-Fa-f-]+\})$ ]] ||
  { echo "register.sh: not a Firefox add-on ID: $FIREFOX_ID" >&2; exit 2; }

# --token: which token library of the install tree goes beside the host.
token_kind=${token_kind:-software}
case $token_kind in
  software|pkcs11) token=$token_kind ;;
  *) usage ;;
esac

if ((system)); then
  prefix=${prefix:-/usr/local/lib/quorvant}
  chromium_dirs=(/etc/chromium/native-messaging-hosts /etc/opt/chrome/native-messaging-hosts
                 /etc/opt/edge/native-messaging-hosts)
  firefox_dirs=(/usr/lib/mozilla/native-messaging-hosts)
else
  : "${HOME:?HOME must be set for a per-user installation}"
  prefix=${prefix:-$HOME/.local/lib/quorvant}
  config=${XDG_CONFIG_HOME:-$HOME/.config}
  chromium_dirs=("$config/chromium/NativeMessagingHosts" "$config/google-chrome/NativeMessagingHosts"
                 "$config/microsoft-edge/NativeMessagingHosts")
  firefox_dirs=("$HOME/.mozilla/native-messaging-hosts")
fi
[[ $prefix != *[\"\\[:cntrl:]]* ]] || { echo "register.sh: unusable prefix: $prefix" >&2; exit 2; }
for dir in ${profiles[@]+"${profiles[@]}"}; do chromium_dirs+=("$dir/NativeMessagingHosts"); done
record="$root$prefix/installed-files"

made_dirs=()
# Creates each missing directory of a path, remembering the ones it made.
make_dirs() {
  local path=$1 missing=()
  while [[ ! -d $path ]]; do missing=("$path" ${missing[@]+"${missing[@]}"}); path=$(dirname "$path"); done
  for path in ${missing[@]+"${missing[@]}"}; do mkdir -m 0755 "$path"; made_dirs+=("$path"); done
}

put_file() {  # source target mode
  made_dirs=()
  make_dirs "$(dirname "$2")"
  for dir in ${made_dirs[@]+"${made_dirs[@]}"}; do echo "dir $dir" >> "$record.new"; done
  install -m "$3" "$1" "$2"
  echo "file $2" >> "$record.new"
}

manifest() {  # allowed member name, allowed values...
  local member=$1 text allowed="" item; shift
  for item in "$@"; do allowed+="${allowed:+, }\"$item\""; done
  text=$(< "$tree/share/quorvant/host_manifest.json.in")
  text=${text//@HOST_PATH@/"$prefix/quorvant_host"}
  text=${text//@ALLOWED_MEMBER@/"$member"}
  printf '%s\n' "${text//@ALLOWED@/"$allowed"}"
}

install_all() {
  local dir origins=() id
  scratch=$(mktemp -d)  # global: the exit trap removes it
  trap 'rm -rf "$scratch"' EXIT
  if [[ -z $tree ]]; then
    tree=$scratch/tree
    cmake --install "$build" --prefix "$tree" --component programs >/dev/null ||
      { echo "register.sh: cannot install $build; build first (./x build release)" >&2; exit 1; }
  fi
  local programs=$tree/lib/quorvant
  for f in quorvant_host quorvant_token quorvant_client "tokens/$token/libAvCryptMail.so"; do
    [[ -f $programs/$f ]] || { echo "register.sh: $programs/$f is missing" >&2; exit 1; }
  done
  make_dirs "$root$prefix"
  : > "$record.new"
  # Keeps what earlier installs wrote (a profile's manifest) for uninstall.
  [[ -f $record ]] && cat "$record" >> "$record.new" || true
  for dir in ${made_dirs[@]+"${made_dirs[@]}"}; do echo "dir $dir" >> "$record.new"; done
  put_file "$programs/quorvant_host" "$root$prefix/quorvant_host" 0755
  put_file "$programs/tokens/$token/libAvCryptMail.so" "$root$prefix/libAvCryptMail.so" 0644
  put_file "$programs/quorvant_token" "$root$prefix/quorvant_token" 0755
  put_file "$programs/quorvant_client" "$root$prefix/quorvant_client" 0755
  local packed=$tree/share/quorvant/extension/chromium-id
  if [[ -f $packed ]]; then
    id=$(< "$packed")
    [[ $id =~ ^[a-p]{32}$ ]] || { echo "register.sh: $packed holds no extension ID" >&2; exit 1; }
    [[ " ${EXTENSION_IDS[*]} " == *" $id "* ]] || origins+=("chrome-extension://$id/")
  fi
  for id in "${EXTENSION_IDS[@]}"; do origins+=("chrome-extension://$id/"); done
  manifest allowed_origins "${origins[@]}" > "$scratch/manifest"
  for dir in "${chromium_dirs[@]}"; do put_file "$scratch/manifest" "$root$dir/$HOST_NAME.json" 0644; done
  manifest allowed_extensions "$FIREFOX_ID" > "$scratch/manifest"
  for dir in "${firefox_dirs[@]}"; do put_file "$scratch/manifest" "$root$dir/$HOST_NAME.json" 0644; done
  sort -u "$record.new" > "$record"; rm -f "$record.new"
  echo "installed $HOST_NAME: $prefix/quorvant_host with the $token_kind token library"
}

uninstall_all() {
  [[ -f $record ]] || { echo "nothing installed in $root$prefix"; return 0; }
  local kind path dirs=()
  while read -r kind path; do
    if [[ $kind == file ]]; then rm -f "$path"; else dirs+=("$path"); fi
  done < "$record"
  rm -f "$record"
  # Directories this installation made, deepest first, when left empty.
  while read -r path; do
    [[ -n $path ]] && { rmdir "$path" 2>/dev/null || true; }
  done < <(printf '%s\n' ${dirs[@]+"${dirs[@]}"} | sort -r)
  echo "uninstalled $HOST_NAME from $prefix"
}

case $command in
  install) install_all ;;
  uninstall) uninstall_all ;;
esac
