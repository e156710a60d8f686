@echo off
rem Drop TGA files on this script to convert them. Each file is converted in its own folder, by
rem its bare name: varnel finds the path.ini that lies beside the textures, and the header name
rem is that folder's name and the output's, as when varnel is run there by hand.
setlocal
for %%F in (%*) do (
    pushd "%%~dpF"
    "%~dp0varnel.exe" "%%~nxF"
    popd
)
echo.
pause
