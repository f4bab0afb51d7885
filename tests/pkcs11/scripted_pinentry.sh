#!/usr/bin/env bash
# Test pinentry: answers as PINENTRY_ACTION (pin, cancel, garbage) says; logs to $PINENTRY_LOG.
[[ ${PINENTRY_ACTION:-} == garbage ]] && { echo "hello"; exit 0; }
echo "OK scripted pinentry"
while IFS= read -r line; do
  echo "$line" >> "${PINENTRY_LOG:-/dev/null}"
  case ${PINENTRY_ACTION:-pin}:$line in
    cancel:GETPIN) echo "ERR 83886179 Operation cancelled" ;;
    cancel:CONFIRM) echo "ERR 83886194 Not confirmed" ;;
    *:GETPIN) printf 'D %s\nOK\n' "${PINENTRY_PIN//%/%25}" ;;
    *) echo OK ;;
  esac
done
