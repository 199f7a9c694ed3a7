# PowerShell completion for corvella-cli: . .\corvella-cli.ps1 (or from $PROFILE)
Register-ArgumentCompleter -Native -CommandName 'corvella-cli', 'corvella-cli.exe' -ScriptBlock {
  param($wordToComplete, $commandAst, $cursorPosition)
  $commands = @{
    'count' = @('-h', '--help', '-n', '--noise-floor', '-t', '--threshold-db', '-g', '--gap-threshold', '--gap', '--ignore-clicks', '--min-part', '--tracks', '--names', '-f', '--format', '--salvage', '-q', '--quiet')
    'split' = @('-h', '--help', '-n', '--noise-floor', '-t', '--threshold-db', '-g', '--gap-threshold', '--gap', '--ignore-clicks', '--min-part', '--pad-before', '--pad-after', '-o', '--output-dir', '--to', '--quality', '--bitrate', '-m', '--mono', '--keep-metadata', '-q', '--quiet', '-f', '--format', '--no-clobber', '--cuts', '--tracks', '--names', '--artist', '--album', '--date', '--follow', '--raw', '--name', '--name-time', '--idle', '--buffer', '--salvage')
    'list' = @('-h', '--help', '-n', '--noise-floor', '-t', '--threshold-db', '-g', '--gap-threshold', '--gap', '--ignore-clicks', '--min-part', '--pad-before', '--pad-after', '-f', '--format', '--tracks', '--names', '--artist', '--album', '--date', '--scale', '-o', '--output-dir', '--salvage', '-q', '--quiet')
    'levels' = @('-h', '--help', '-n', '--noise-floor', '-t', '--threshold-db', '-g', '--gap-threshold', '--gap', '--ignore-clicks', '--tracks', '--names', '-f', '--format', '--salvage', '-q', '--quiet')
    'help' = @()
  }
  $values = @{
    'count -n' = 'text'
    'count --noise-floor' = 'text'
    'count -t' = 'text'
    'count --threshold-db' = 'text'
    'count -g' = 'text'
    'count --gap-threshold' = 'text'
    'count --gap' = 'text'
    'count --ignore-clicks' = 'text'
    'count --min-part' = 'text'
    'count --names' = 'file'
    'count -f' = @('text', 'json')
    'count --format' = @('text', 'json')
    'split -n' = 'text'
    'split --noise-floor' = 'text'
    'split -t' = 'text'
    'split --threshold-db' = 'text'
    'split -g' = 'text'
    'split --gap-threshold' = 'text'
    'split --gap' = 'text'
    'split --ignore-clicks' = 'text'
    'split --min-part' = 'text'
    'split --pad-before' = 'text'
    'split --pad-after' = 'text'
    'split -o' = 'folder'
    'split --output-dir' = 'folder'
    'split --to' = @('flac', 'wav', 'mp3', 'opus')
    'split --quality' = 'text'
    'split --bitrate' = 'text'
    'split -f' = @('text', 'json')
    'split --format' = @('text', 'json')
    'split --cuts' = 'file'
    'split --names' = 'file'
    'split --artist' = 'text'
    'split --album' = 'text'
    'split --date' = 'text'
    'split --follow' = 'file'
    'split --raw' = 'text'
    'split --name' = 'text'
    'split --idle' = 'text'
    'split --buffer' = 'text'
    'list -n' = 'text'
    'list --noise-floor' = 'text'
    'list -t' = 'text'
    'list --threshold-db' = 'text'
    'list -g' = 'text'
    'list --gap-threshold' = 'text'
    'list --gap' = 'text'
    'list --ignore-clicks' = 'text'
    'list --min-part' = 'text'
    'list --pad-before' = 'text'
    'list --pad-after' = 'text'
    'list -f' = @('text', 'csv', 'json', 'labels', 'cue', 'svg', 'html')
    'list --format' = @('text', 'csv', 'json', 'labels', 'cue', 'svg', 'html')
    'list --names' = 'file'
    'list --artist' = 'text'
    'list --album' = 'text'
    'list --date' = 'text'
    'list --scale' = @('db', 'linear')
    'list -o' = 'folder'
    'list --output-dir' = 'folder'
    'levels -n' = 'text'
    'levels --noise-floor' = 'text'
    'levels -t' = 'text'
    'levels --threshold-db' = 'text'
    'levels -g' = 'text'
    'levels --gap-threshold' = 'text'
    'levels --gap' = 'text'
    'levels --ignore-clicks' = 'text'
    'levels --names' = 'file'
    'levels -f' = @('text', 'json')
    'levels --format' = @('text', 'json')
  }
  # The words before the cursor; the one being typed left out.
  $before = @($commandAst.CommandElements | Where-Object { $_.Extent.StartOffset -lt $cursorPosition } | ForEach-Object { $_.ToString() })
  if ($wordToComplete -ne '') { $before = @($before | Select-Object -SkipLast 1) }
  $previous = $before[-1]
  $command = $before | Select-Object -Skip 1 | Where-Object { $commands.ContainsKey($_) } | Select-Object -First 1
  function Offer($texts) { $texts | Where-Object { $_ -like "$wordToComplete*" } | ForEach-Object { [System.Management.Automation.CompletionResult]::new($_, $_, 'ParameterValue', $_) } }
  function Files($folders) { Get-ChildItem -Path "$wordToComplete*" -ErrorAction SilentlyContinue | Where-Object { -not $folders -or $_.PSIsContainer } | ForEach-Object { $path = if ($_.FullName -match '^[\w:\\/.-]+$') { $_.FullName } else { "'" + ($_.FullName -replace "'", "''") + "'" }; [System.Management.Automation.CompletionResult]::new($path, $_.Name, 'ProviderItem', $_.FullName) } }
  if (-not $command) { return Offer (@($commands.Keys | Sort-Object) + @('--help', '--version')) }
  if ($command -eq 'help') { return Offer @($commands.Keys | Where-Object { $_ -ne 'help' } | Sort-Object) }
  $value = $values["$command $previous"]
  if ($value -is [array]) { return Offer $value }
  if ($value -eq 'folder') { return Files $true }
  if ($value -eq 'file') { return Files $false }
  if ($value) { return }
  if ($wordToComplete -like '-*') { return Offer $commands[$command] }
  Files $false
}
