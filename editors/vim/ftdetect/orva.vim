" ORVA scripts: .orva files, and scripts run through "#!/usr/bin/env orva".
au BufRead,BufNewFile *.orva setfiletype orva
au BufRead,BufNewFile * if getline(1) =~# '^#!.*\<orva\>' | setfiletype orva | endif
