# The demo's walk through the sample package's wizard: every page, the
# dictionary added on the components page, a folder of the user's own
# picked in the folder tree, then the installation.  %DEMO_*% come from
# scripts/demo.sh.
timeout 60
launch C:\windows\system32\cmd.exe /c mkdir "\"\\Storage Card\\Programs\""
wait-exit 0
launch %DEMO_PACKAGE%
wait-page 102
screenshot "%DEMO_SHOTS%\01-welcome.png"
click 1
wait-page 129
expect-enabled 1 0
click 1005
expect-enabled 1 1
screenshot "%DEMO_SHOTS%\02-agreement.png"
click 1
wait-page 132
tick 1012 "Spell Checker Dictionary" 1
screenshot "%DEMO_SHOTS%\03-components.png"
click 1
wait-page 130
click 1009
expect-checked 1009 1
screenshot "%DEMO_SHOTS%\04-location.png"
click 1
wait-page 131
select 1011 "\Storage Card\Programs"
expect-text 1010 "\Storage Card\Programs"
screenshot "%DEMO_SHOTS%\05-destination.png"
click 1
wait-page 133
screenshot "%DEMO_SHOTS%\06-ready.png"
click 1
wait-exit 0
