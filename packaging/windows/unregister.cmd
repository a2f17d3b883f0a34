@echo off
rem Removes the registration of qzCardReader.dll from this folder.
rem   unregister.cmd          the registration for every user (run as administrator)
rem   unregister.cmd /user    the current user's registration
setlocal
set "HERE=%~dp0"
set "MODE=machine"
if /i "%~1"=="/user" set "MODE=user"
if not "%~1"=="" if /i not "%~1"=="/user" (
  echo usage: unregister.cmd [/user]
  exit /b 2
)
set "NATIVE=%WINDIR%\System32"
if exist "%WINDIR%\Sysnative\regsvr32.exe" set "NATIVE=%WINDIR%\Sysnative"
set "FAILED=0"
if exist "%WINDIR%\SysWOW64\regsvr32.exe" (
  call :unregister "%NATIVE%\regsvr32.exe" "%HERE%x64\qzCardReader.dll"
  call :unregister "%WINDIR%\SysWOW64\regsvr32.exe" "%HERE%x86\qzCardReader.dll"
) else (
  call :unregister "%NATIVE%\regsvr32.exe" "%HERE%x86\qzCardReader.dll"
)
if "%FAILED%"=="1" exit /b 1
echo qzCardReader is no longer registered (%MODE%).
exit /b 0

:unregister
if "%MODE%"=="user" (
  "%~1" /s /u /n /i:user "%~2"
) else (
  "%~1" /s /u "%~2"
)
if errorlevel 1 (
  echo Unregistering %~2 failed.
  set "FAILED=1"
) else (
  echo Unregistered %~2
)
goto :eof
