@echo off
rem Removes what install.cmd registered: the registry keys of
rem com.quorvant.signing_host for Chrome, Edge, Chromium and Firefox in one
rem scope, and that scope's two manifests beside this script. The other scope
rem is left alone. Keys or files that are already gone are no error.
rem   uninstall.cmd            the current user's registration (HKCU)
rem   uninstall.cmd /machine   the registration for every user (HKLM; as
rem                            administrator)
rem Plain cmd only, as install.cmd explains.
setlocal EnableExtensions DisableDelayedExpansion
set "HOST_NAME=com.quorvant.signing_host"
set "HERE=%~dp0"
set "SCOPE=user"
set "HIVE=HKCU"
if "%~1"=="" goto parsed
if /i not "%~1"=="/machine" goto usage_error
if not "%~2"=="" goto usage_error
set "SCOPE=machine"
set "HIVE=HKLM"

:parsed
set "FAILED="
for %%k in ("Google\Chrome" "Microsoft\Edge" "Chromium" "Mozilla") do call :unregister "%%~k"
if defined FAILED goto unregister_failed
set "FAILED="
call :remove_manifest "chromium-%SCOPE%.json"
call :remove_manifest "firefox-%SCOPE%.json"
if defined FAILED goto remove_failed
echo Removed %HOST_NAME% from %HIVE%.
exit /b 0

:unregister
reg query "%HIVE%\Software\%~1\NativeMessagingHosts\%HOST_NAME%" >nul 2>&1
if errorlevel 1 exit /b 0
reg delete "%HIVE%\Software\%~1\NativeMessagingHosts\%HOST_NAME%" /f >nul
if errorlevel 1 set "FAILED=%~1"
exit /b 0

:remove_manifest
if exist "%HERE%%~1" del /f /q "%HERE%%~1"
if exist "%HERE%%~1" set "FAILED=%~1"
exit /b 0

:unregister_failed
>&2 echo uninstall.cmd: cannot remove %HIVE%\Software\%FAILED%\NativeMessagingHosts\%HOST_NAME%
if /i "%HIVE%"=="HKLM" >&2 echo /machine needs a command prompt run as administrator.
exit /b 1

:remove_failed
>&2 echo uninstall.cmd: cannot remove "%HERE%%FAILED%"
exit /b 1

:usage_error
>&2 echo Usage: uninstall.cmd [/machine]
exit /b 2
