#!/usr/bin/env bash
# Test pinentry: answers as PINENTRY_ACTION (pin, cancel, garbage) says; logs to $PINENTRY_LOG.
# PINENTRY_PIN may list PINs separated by commas: the n-th PIN asked for in the log gets the n-th.
[[ ${PINENTRY_ACTION:-} == garbage ]] && { echo "hello"; exit 0; }
echo "OK scripted pinentry"
IFS=, read -ra pins <<< "${PINENTRY_PIN:-}"
while IFS= read -r line; do
  echo "$line" >> "${PINENTRY_LOG:-/dev/null}"
  case ${PINENTRY_ACTION:-pin}:$line in
    cancel:GETPIN) echo "ERR 83886179 Operation cancelled" ;;
    cancel:CONFIRM) echo "ERR 83886194 Not confirmed" ;;
    *:GETPIN)
      asked=$(grep -c '^GETPIN' "${PINENTRY_LOG:-/dev/null}")
      pin=${pins[asked - 1]:-${pins[-1]:-}}
      printf 'D %s\nOK\n' "${pin//%/%25}" ;;
    *) echo OK ;;
  esac
done
