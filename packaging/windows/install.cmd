@echo off
rem Registers quorvant_host.exe, which lies beside this script, as the
rem native-messaging host com.quorvant.signing_host of Google Chrome,
rem Microsoft Edge, Chromium and Firefox; uninstall.cmd undoes it. Running it
rem again replaces the registration. Usage: see :usage below.
rem
rem Plain cmd only, so that it runs the same on every Windows and under Wine:
rem no delayed expansion (a "!" in the folder name would be eaten), no
rem findstr, no "||" (Wine's cmd runs its right side after a success), no
rem parenthesised blocks around folder names (a ")" in "Program Files (x86)"
rem would end the block). Failures are found with "if errorlevel" and by
rem looking at what was written.
setlocal EnableExtensions DisableDelayedExpansion
set "HOST_NAME=com.quorvant.signing_host"
set "HERE=%~dp0"
set "SCOPE=user"
set "HIVE=HKCU"
set "ORIGINS="
set "ADDONS="

:parse
if "%~1"=="" goto parsed
if /i "%~1"=="/machine" goto option_machine
if /i "%~1"=="/extension-id" goto option_extension_id
if /i "%~1"=="/firefox-id" goto option_firefox_id
if "%~1"=="/?" goto usage
>&2 echo install.cmd: unknown option %1
goto usage_error

:option_machine
set "SCOPE=machine"
set "HIVE=HKLM"
shift
goto parse

:option_extension_id
set "ID=%~2"
call :take_extension_id
if errorlevel 1 goto bad_id
if defined ORIGINS set "ORIGINS=%ORIGINS%, "
set "ORIGINS=%ORIGINS%"chrome-extension://%ID%/""
shift
shift
goto parse

:option_firefox_id
set "ID=%~2"
call :take_addon_id
if errorlevel 1 goto bad_id
if defined ADDONS set "ADDONS=%ADDONS%, "
set "ADDONS=%ADDONS%"%ID%""
shift
shift
goto parse

:parsed
rem Without IDs: the team's example extension, as on Linux; the extension
rem packed with this release is allowed whatever IDs are given.
if not defined ORIGINS set "ORIGINS="chrome-extension://ingogkpkbkiidmpbpalbgoiidmfhibjn/""
set "ORIGINS="chrome-extension://@PACKED_ID@/", %ORIGINS%"
if not defined ADDONS set "ADDONS="signing@quorvant.example""
if not exist "%HERE%quorvant_host.exe" goto no_host

rem One pair of manifests per scope: a per-user installation with other IDs
rem must not rewrite the manifests that the machine-wide one points at.
set "CHROMIUM_MANIFEST=%HERE%chromium-%SCOPE%.json"
set "FIREFOX_MANIFEST=%HERE%firefox-%SCOPE%.json"
set "MANIFEST=%CHROMIUM_MANIFEST%"
set "MEMBER=allowed_origins"
set "ALLOWED=%ORIGINS%"
call :write_manifest
if errorlevel 1 goto write_failed
set "MANIFEST=%FIREFOX_MANIFEST%"
set "MEMBER=allowed_extensions"
set "ALLOWED=%ADDONS%"
call :write_manifest
if errorlevel 1 goto write_failed

set "FAILED="
set "MANIFEST=%CHROMIUM_MANIFEST%"
for %%k in ("Google\Chrome" "Microsoft\Edge" "Chromium") do call :register "%%~k"
set "MANIFEST=%FIREFOX_MANIFEST%"
call :register "Mozilla"
if defined FAILED goto register_failed
echo Registered %HOST_NAME% for Chrome, Edge, Chromium and Firefox in %HIVE%.
exit /b 0

:take_extension_id
rem An extension ID is 32 letters a-p. The letters are removed one by one
rem (cmd's replacement ignores case) and must leave nothing; then each is
rem replaced by itself in lower case, the only form browsers match.
if not defined ID exit /b 1
if "%ID:~31,1%"=="" exit /b 1
if not "%ID:~32,1%"=="" exit /b 1
set "REST=%ID%"
for %%c in (a b c d e f g h i j k l m n o p) do if defined REST call set "REST=%%REST:%%c=%%"
if defined REST exit /b 1
for %%c in (a b c d e f g h i j k l m n o p) do call set "ID=%%ID:%%c=%%c%%"
exit /b 0

:take_addon_id
rem A Firefox add-on ID is name@domain or {GUID}. Only letters, digits and
rem - . _ @ { } are taken: nothing that JSON or cmd would read as syntax.
if not defined ID exit /b 1
if "%ID:@=%"=="%ID%" if not "%ID:~0,1%"=="{" exit /b 1
set "REST=%ID%"
for %%c in (a b c d e f g h i j k l m n o p q r s t u v w x y z) do if defined REST call set "REST=%%REST:%%c=%%"
for %%c in (0 1 2 3 4 5 6 7 8 9 - . _ @ { }) do if defined REST call set "REST=%%REST:%%c=%%"
if defined REST exit /b 1
exit /b 0

:write_manifest
rem "path" is relative to the manifest, which lies beside the host, as both
rem browser families allow on Windows. An absolute path would carry the
rem folder's name into the JSON, and cmd writes files in the ANSI or OEM code
rem page, never UTF-8: a folder such as C:\Users\<Cyrillic name> would make
rem the manifest unreadable.
if exist "%MANIFEST%" del /f /q "%MANIFEST%"
if exist "%MANIFEST%" exit /b 1
> "%MANIFEST%" echo {
>> "%MANIFEST%" echo   "name": "%HOST_NAME%",
>> "%MANIFEST%" echo   "description": "Quorvant signing host",
>> "%MANIFEST%" echo   "path": "quorvant_host.exe",
>> "%MANIFEST%" echo   "type": "stdio",
>> "%MANIFEST%" echo   "%MEMBER%": [%ALLOWED%]
>> "%MANIFEST%" echo }
if not exist "%MANIFEST%" exit /b 1
exit /b 0

:register
reg add "%HIVE%\Software\%~1\NativeMessagingHosts\%HOST_NAME%" /ve /t REG_SZ /d "%MANIFEST%" /f >nul
if errorlevel 1 set "FAILED=%~1"
exit /b 0

:bad_id
>&2 echo install.cmd: %1 needs an ID (32 letters a-p for an extension, name@domain or {GUID} for Firefox), not: %2
exit /b 2

:no_host
>&2 echo install.cmd: quorvant_host.exe is not in the folder of this script: "%HERE%"
exit /b 1

:write_failed
>&2 echo install.cmd: cannot write "%MANIFEST%"
exit /b 1

:register_failed
>&2 echo install.cmd: cannot write %HIVE%\Software\%FAILED%\NativeMessagingHosts\%HOST_NAME%
if /i "%HIVE%"=="HKLM" >&2 echo /machine needs a command prompt run as administrator.
exit /b 1

:usage_error
call :usage >&2
exit /b 2

:usage
echo Usage: install.cmd [/machine] [/extension-id ID]... [/firefox-id ID]...
echo   Registers quorvant_host.exe of this folder as the native-messaging host
echo   %HOST_NAME% of Chrome, Edge, Chromium and Firefox.
echo   /extension-id  a Chromium extension ID (32 letters a-p) allowed to start
echo                  the host in Chrome, Edge and Chromium; may be repeated.
echo   /firefox-id    a Firefox add-on ID allowed to start it; may be repeated.
echo   Without IDs, the team's example extension is allowed.
echo   /machine       for every user of this computer (HKLM; run as administrator,
echo                  from a folder only administrators can change) instead of
echo                  for the current user (HKCU).
echo   The manifests are written beside this script: chromium-user.json and
echo   firefox-user.json, or chromium-machine.json and firefox-machine.json.
exit /b 0
