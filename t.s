! 1 
! 1 # 1 "t.c"
! 1  char *s = "ab"; int f(p)
.data
export	_s
_s:
.word	.1+0
!BCC_EOS
! 2 # 1 "t.c"
! 1 char *p;
.text
export	_f
_f:
!BCC_EOS
! 2 # 1 "t.c"
! 1 {  int v = 1; return *p + v; }
push	bp
mov	bp,sp
push	di
push	si
dec	sp
dec	sp
! Debug: eq int = const 1 to int v = [S+8-8] (used reg = )
mov	ax,*1
mov	-6[bp],ax
!BCC_EOS
mov	bx,4[bp]
! Debug: add int v = [S+8-8] to char = [bx+0] (used reg = )
mov	al,[bx]
xor	ah,ah
add	ax,-6[bp]
! Debug: cast int = const 0 to int = ax+0 (used reg = )
inc	sp
inc	sp
pop	si
pop	di
pop	bp
ret
!BCC_EOS
! 2 
! Register BX used in function f
.data
.1:
.2:
.ascii	"ab"
.byte	0
.bss

! 0 errors detected
