" Vim syntax file for ORVA scripts (.orva).
" Install: copy to ~/.vim/syntax/orva.vim, and ../ftdetect/orva.vim to ~/.vim/ftdetect/.
if exists("b:current_syntax")
  finish
endif

syn iskeyword @,48-57,_,$
syn keyword orvaControl if else while do for foreach switch case default break continue return exit sub use global array print println
syn keyword orvaWordOperator like ilike match imatch
syn keyword orvaConstant true TRUE false FALSE null NULL
syn keyword orvaType int32 int64 uint32 uint64 real string
syn keyword orvaBuiltin _exit abs classof d2x exp gmtime index left length localtime log log10 lower ltrim max min pow random right rindex rtrim sleep strftime substr time trace trim typeof upper AddrInRange AddrInSubnet SecondsToUptime
" Functions the orva command adds (not built into the library).
syn keyword orvaToolFunction readline format round split join replace count keys

syn match orvaOperator "==\|!=\|<=\|>=\|<<\|>>\|&&\|||\|++\|--\|->\|\~=\|+=\|-=\|\*=\|/=\|%=\|\.=\|&=\||=\|\^=\|[.+\-*/%=!&|\^~<>?:]"
syn match orvaPositional "\$[0-9]\+\>"
syn match orvaDollarVariable "\$[A-Za-z_$][A-Za-z0-9_$]*"
syn match orvaNumber "\<[0-9]\+\(LU\|UL\|U\|L\)\=\>"
syn match orvaNumber "\<0x[0-9A-Fa-f]\+\(LU\|UL\|U\|L\)\=\>"
syn match orvaReal "-\=\<[0-9]\+\.[0-9]\+\>"
syn match orvaEscape contained "\\\([\"0\\bnrt]\|x[0-9A-Fa-f]\{1,2}\)"
syn region orvaString start=+"+ skip=+\\\\\|\\"+ end=+"\|$+ contains=orvaEscape
syn match orvaLineComment "//.*$"
syn region orvaBlockComment start="/\*" end="\*/" contains=orvaBlockComment
syn match orvaShebang "\%^#!.*$"

hi def link orvaControl Statement
hi def link orvaWordOperator Operator
hi def link orvaConstant Constant
hi def link orvaType Type
hi def link orvaBuiltin Function
hi def link orvaToolFunction Function
hi def link orvaOperator Operator
hi def link orvaPositional Identifier
hi def link orvaDollarVariable Identifier
hi def link orvaNumber Number
hi def link orvaReal Float
hi def link orvaEscape SpecialChar
hi def link orvaString String
hi def link orvaLineComment Comment
hi def link orvaBlockComment Comment
hi def link orvaShebang PreProc

let b:current_syntax = "orva"
