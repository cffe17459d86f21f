# Configuration Manager configuration item: discovery script of a String setting.
# Compliance rule: "The value returned by the specified script" Equals "Compliant".
# tkexamine --detect decides; a device with an issue reports its line as the value. The
# script always exits 0: a non-zero exit would be a script error, not non-compliance.
$dir = $null
foreach ($key in 'HKLM:\SOFTWARE\QUORIN\Token Key Check', 'HKLM:\SOFTWARE\WOW6432Node\QUORIN\Token Key Check') {
    if (-not $dir) { $dir = (Get-ItemProperty -LiteralPath $key -Name InstallDir -ErrorAction SilentlyContinue).InstallDir }
}
if (-not $dir) { $dir = Join-Path $env:ProgramFiles 'QUORIN Token Key Check' }
$exe = Join-Path $dir 'tkexamine.exe'
if (-not (Test-Path -LiteralPath $exe)) { "issue: could not complete: tkexamine.exe is not installed ($exe)"; exit 0 }
[Console]::OutputEncoding = [Text.Encoding]::UTF8
$line = @(& $exe --detect) | Select-Object -Last 1
if ($LASTEXITCODE -eq 0) { 'Compliant' } elseif ($line) { $line } else { "issue: tkexamine ended with $LASTEXITCODE" }
exit 0
