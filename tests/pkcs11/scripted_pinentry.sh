#!/usr/bin/env bash
# A pinentry for tests: speaks the Assuan protocol on standard input and
# output and answers from its environment. PINENTRY_ACTION: "pin" (default:
# GETPIN gives $PINENTRY_PIN, CONFIRM says yes), "cancel" (both refused),
# "garbage" (no protocol at all). Every command received is appended to
# $PINENTRY_LOG.
log=${PINENTRY_LOG:-/dev/null}
action=${PINENTRY_ACTION:-pin}
[[ $action == garbage ]] && { echo "hello"; exit 0; }
echo "OK scripted pinentry"
while IFS= read -r line; do
  echo "$line" >> "$log"
  case $line in
    GETPIN) [[ $action == cancel ]] && echo "ERR 83886179 Operation cancelled" ||
              printf 'D %s\nOK\n' "${PINENTRY_PIN//%/%25}" ;;
    CONFIRM) [[ $action == cancel ]] && echo "ERR 83886194 Not confirmed" || echo OK ;;
    BYE) echo "OK closing connection"; exit 0 ;;
    *) echo OK ;;
  esac
done
