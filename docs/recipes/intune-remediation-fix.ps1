# Intune Remediations: remediation script, the pair of intune-remediation-detection.ps1, with
# the same settings: run as SYSTEM (logged-on credentials: No), 64-bit PowerShell: Yes.
# tkexamine --fix sets the signed-in user's own settings that the failing user checks need
# (never a machine or policy setting), keeps an undo file in that user's %LOCALAPPDATA%,
# examines again and rewrites the markers. Intune runs the detection script again afterwards
# to tell whether the issue is fixed, so this script's exit code says only whether the fix
# ran: 0, or 1 when it could not complete. Its last line is tkexamine's closing "Fix: ..."
# line (what changed, what a policy or the machine holds, what still fails, the undo file).
$dir = $null
foreach ($key in 'HKLM:\SOFTWARE\QUORIN\Token Key Check', 'HKLM:\SOFTWARE\WOW6432Node\QUORIN\Token Key Check') {
    if (-not $dir) { $dir = (Get-ItemProperty -LiteralPath $key -Name InstallDir -ErrorAction SilentlyContinue).InstallDir }
}
if (-not $dir) { $dir = Join-Path $env:ProgramFiles 'QUORIN Token Key Check' }
$exe = Join-Path $dir 'tkexamine.exe'
if (-not (Test-Path -LiteralPath $exe)) {
    Write-Output "fix not run: tkexamine.exe is not installed ($exe)"
    exit 1
}
[Console]::OutputEncoding = [Text.Encoding]::UTF8   # tkexamine writes UTF-8 to a pipe
$output = @(& $exe --fix 2>&1)
$code = $LASTEXITCODE
$errors = @($output | Where-Object { $_ -is [System.Management.Automation.ErrorRecord] })
$last = @($output | Where-Object { $_ -isnot [System.Management.Automation.ErrorRecord] -and $_ -like 'Fix: *' }) | Select-Object -Last 1
# 0, 1 and 2 are the verdicts of the examination after the fix; 3 means it could not
# complete (what it changed before is in its undo file), anything else is a bad call.
if ($code -le 2) {
    if (-not $last) { $last = "Fix: tkexamine ended with $code" }
    Write-Output $last
    exit 0
}
$why = ($errors | Select-Object -First 1) -as [string]
if (-not $why) { $why = "tkexamine ended with $code" }
Write-Output "fix could not complete: $why $last"
exit 1
