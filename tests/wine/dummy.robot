# robot.exe against the dummy wizard: every kind of step at least once.
timeout 20
launch %VELKOR_BIN%\dummywizard.exe 36
wait-frame
wait-page 132
expect-text 1 "&Next >"
expect-enabled 1002 0
tick 1012 "Beta" 0
click 1
expect-msgbox "Nothing is ticked." "Dummy" information
answer IDOK
expect-page 132
tick 1012 "Alpha" 1
click 1
wait-page 133
expect-text-contains 1007 "Dummy page 133"
expect-enabled 1002 1
screenshot "%VELKOR_ROOT%ready.png"
measure "%VELKOR_ROOT%measure.txt" install_button %VELKOR_BIN%\dummywizard.exe 133 1
measure "%VELKOR_ROOT%measure.txt" ready_title %VELKOR_BIN%\dummywizard.exe 133 0 00520065006100640079
measure "%VELKOR_ROOT%measure.txt" progress_label %VELKOR_BIN%\dummywizard.exe 134 1013 0041
font-table %VELKOR_BIN%\dummywizard.exe "%VELKOR_ROOT%font.txt"
click-at 1007 5 5
sleep 200
click 1
wait-exit 0

launch %VELKOR_BIN%\dummywizard.exe 24
wait-page 130
click 1009
expect-checked 1009 1
click 1
wait-page 131
select 1011 "\Program Files\Tool"
expect-text 1010 "Tool"
type 1010 "\Storage Card\Notes"
expect-text 1010 "\Storage Card\Notes"
describe

launch %VELKOR_BIN%\dummywizard.exe box question
expect-msgbox "A box of kind question." "Velkor" question
answer IDNO
wait-exit 7
