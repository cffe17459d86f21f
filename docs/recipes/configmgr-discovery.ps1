# Configuration Manager configuration item: discovery script of a String setting.
# Compliance rule: "The value returned by the specified script" Equals "Compliant".
# The script always exits 0: a non-zero exit would be a script error, not non-compliance.
$exe = Join-Path $env:ProgramFiles 'QUORIN\tkexamine.exe'
& $exe --report-only --quiet
switch ($LASTEXITCODE) {
    0       { 'Compliant' }
    1       { 'Failed' }
    2       { 'Undecided' }
    3       { 'Error' }
    default { "Error $LASTEXITCODE" }
}
exit 0
