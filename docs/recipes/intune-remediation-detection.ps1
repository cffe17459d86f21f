# Intune Remediations: detection script. Settings: run as SYSTEM (logged-on credentials: No),
# 64-bit PowerShell: Yes. tkexamine --detect decides: it prints the one line the admin center
# shows and exits 0 (no issue) or 1 (issue); this script only finds it and passes both on.
$dir = $null
foreach ($key in 'HKLM:\SOFTWARE\QUORIN\Token Key Check', 'HKLM:\SOFTWARE\WOW6432Node\QUORIN\Token Key Check') {
    if (-not $dir) { $dir = (Get-ItemProperty -LiteralPath $key -Name InstallDir -ErrorAction SilentlyContinue).InstallDir }
}
if (-not $dir) { $dir = Join-Path $env:ProgramFiles 'QUORIN Token Key Check' }
$exe = Join-Path $dir 'tkexamine.exe'
if (-not (Test-Path -LiteralPath $exe)) {
    Write-Output "issue: could not complete: tkexamine.exe is not installed ($exe)"
    exit 1
}
[Console]::OutputEncoding = [Text.Encoding]::UTF8   # tkexamine writes UTF-8 to a pipe
$line = @(& $exe --detect) | Select-Object -Last 1
$code = $LASTEXITCODE
if (-not $line) { $line = "issue: could not complete: tkexamine ended with $code and said nothing" }
Write-Output $line
if ($code -eq 0) { exit 0 } else { exit 1 }
