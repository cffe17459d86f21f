# Intune Remediations: detection script. Exit 0 = no issue, exit 1 = issue found.
# Settings: run as SYSTEM (logged-on credentials: No), 64-bit PowerShell: Yes.
$exe = Join-Path $env:ProgramFiles 'QUORIN\tkexamine.exe'
$report = Join-Path $env:ProgramData 'QUORIN\tkexamine.json'
New-Item -ItemType Directory -Force -Path (Split-Path $report) | Out-Null
& $exe --report-only --quiet "--json=$report"
$code = $LASTEXITCODE
$words = @{ 0 = 'all checks passed'; 1 = 'checks failed'; 2 = 'checks undecided'; 3 = 'could not complete'; 87 = 'bad command line' }
$text = if ($words.ContainsKey($code)) { $words[$code] } else { "ended with $code" }
try {
    $r = Get-Content -Raw -Encoding UTF8 $report | ConvertFrom-Json
    $text += " ($($r.counts.pass) pass, $($r.counts.fail) fail, $($r.counts.undecided) undecided; user $($r.run_context.examined_user.name))"
} catch { }
Write-Output "tkexamine: $text"   # the last line is the detection output in the admin center
if ($code -eq 0) { exit 0 } else { exit 1 }
