@echo off
rem Registers qzCardReader.dll from this folder.
rem   register.cmd          for every user of this machine (run as administrator)
rem   register.cmd /user    for the current user only (no administrator rights needed)
rem On 64-bit Windows both DLLs are registered: x64\ for 64-bit hosts, x86\ for 32-bit hosts.
setlocal
set "HERE=%~dp0"
set "MODE="
if "%~1"=="" set "MODE=machine"
if /i "%~1"=="/user" set "MODE=user"
if "%MODE%"=="" (
  echo usage: register.cmd [/user]
  exit /b 2
)
set "NATIVE=%WINDIR%\System32"
if exist "%WINDIR%\Sysnative\regsvr32.exe" set "NATIVE=%WINDIR%\Sysnative"
set "FAILED=0"
set "WIN64="
if /i "%PROCESSOR_ARCHITECTURE%"=="AMD64" set "WIN64=1"
if defined PROCESSOR_ARCHITEW6432 set "WIN64=1"
if defined WIN64 (
  call :register "%NATIVE%\regsvr32.exe" "%HERE%x64\qzCardReader.dll"
  if exist "%WINDIR%\SysWOW64\regsvr32.exe" (
    call :register "%WINDIR%\SysWOW64\regsvr32.exe" "%HERE%x86\qzCardReader.dll"
  ) else (
    echo No 32-bit subsystem here: x86\qzCardReader.dll left out.
  )
) else (
  call :register "%NATIVE%\regsvr32.exe" "%HERE%x86\qzCardReader.dll"
)
if "%FAILED%"=="1" exit /b 1
echo qzCardReader is registered (%MODE%).
exit /b 0

:register
if "%MODE%"=="user" (
  "%~1" /s /n /i:user "%~2"
) else (
  "%~1" /s "%~2"
)
if errorlevel 1 (
  echo Registering %~2 failed.
  if "%MODE%"=="machine" echo Run this from an administrator prompt, or use: register.cmd /user
  set "FAILED=1"
) else (
  echo Registered %~2
)
goto :eof
