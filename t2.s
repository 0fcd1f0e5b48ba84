! 1 
! 1 # 1 "t2.c"
! 1 # 10 "/usr/lib/bcc/include/features.h"
! 10  
! 11 # 25
! 25  
! 26  
! 27 # 45
! 45  
! 46 
! 47 
! 48 
! 49  
! 50 # 4 "/usr/lib/bcc/include/sys/cdefs.h"
! 4 # 11
! 11  
! 12 # 30
! 30  
! 31 
! 32 
! 33 
! 34  
! 35 # 1 "/usr/lib/bcc/include/sys/types.h"
! 1 # 4 "/usr/lib/bcc/include/stddef.h"
! 4  
! 5  
! 6 # 1 "/usr/lib/bcc/include/sys/types.h"
! 1 # 4 "/usr/lib/bcc/include/stddef.h"
! 4  
! 5  
! 6 # 2 "/usr/lib/bcc/include/msdos/types.h"
! 2  
! 3 # 2 "/usr/lib/bcc/include/asm/types.h"
! 2  
! 3 
! 4 
! 5 
! 6 	
! 7  
! 8 
! 9 typedef unsigned char __u8;
!BCC_EOS
! 10 typedef unsigned char * __pu8;
!BCC_EOS
! 11 # 17
! 17 typedef unsigned short __u16;
!BCC_EOS
! 18 typedef unsigned short * __pu16;
!BCC_EOS
! 19 typedef short __s16;
!BCC_EOS
! 20 typedef short * __ps16;
!BCC_EOS
! 21 
! 22 typedef unsigned long __u32;
!BCC_EOS
! 23 typedef unsigned long * __pu32;
!BCC_EOS
! 24 typedef long __s32;
!BCC_EOS
! 25 typedef long * __ps32;
!BCC_EOS
! 26 
! 27  
! 28 
! 29 typedef unsigned int __uint;
!BCC_EOS
! 30 typedef int __sint;
!BCC_EOS
! 31 typedef unsigned int * __puint;
!BCC_EOS
! 32 typedef int * __psint;
!BCC_EOS
! 33 # 9 "/usr/lib/bcc/include/msdos/types.h"
! 9 typedef __u32 off_t;
!BCC_EOS
! 10 typedef __u32 time_t;
!BCC_EOS
! 11 typedef __u16 mode_t;
!BCC_EOS
! 12 typedef __u32 loff_t;
!BCC_EOS
! 13 typedef __u32 speed_t;
!BCC_EOS
! 14 
! 15 typedef __u32 tcflag_t;
!BCC_EOS
! 16 typedef __u8  cc_t;
!BCC_EOS
! 17 typedef __u16 size_t;
!BCC_EOS
! 18 
! 19 typedef int   ptrdiff_t;
!BCC_EOS
! 20 # 2
! 2  
! 3 # 4 "/usr/lib/bcc/include/stddef.h"
! 4  
! 5  
! 6 # 8 "/usr/lib/bcc/include/string.h"
! 8  
! 9 extern size_t strlen ();
!BCC_EOS
! 10 
! 11 extern char * strcat ();
!BCC_EOS
! 12 extern char * strcpy ();
!BCC_EOS
! 13 extern int strcmp ();
!BCC_EOS
! 14 
! 15 extern char * strncat ();
!BCC_EOS
! 16 extern char * strncpy ();
!BCC_EOS
! 17 extern int strncmp ();
!BCC_EOS
! 18 
! 19 extern char * strchr ();
!BCC_EOS
! 20 extern char * strrchr ();
!BCC_EOS
! 21 extern char * strdup ();
!BCC_EOS
! 22 
! 23  
! 24 extern void * memcpy ();
!BCC_EOS
! 25 extern void * memccpy ();
!BCC_EOS
! 26 extern void * memchr ();
!BCC_EOS
! 27 extern void * memset ();
!BCC_EOS
! 28 extern int memcmp ();
!BCC_EOS
! 29 
! 30 extern void * memmove ();
!BCC_EOS
! 31 
! 32  
! 33 
! 34 
! 35 
! 36  
! 37 
! 38 
! 39 
! 40  
! 41 extern int strcasecmp ();
!BCC_EOS
! 42 extern int strncasecmp ();
!BCC_EOS
! 43 char *strpbrk ();
!BCC_EOS
! 44 char *strsep ();
!BCC_EOS
! 45 char *strstr ();
!BCC_EOS
! 46 char *strtok ();
!BCC_EOS
! 47 size_t strcspn ();
!BCC_EOS
! 48 size_t strspn ();
!BCC_EOS
! 49 
! 50  
! 51 char *strfry ();
!BCC_EOS
! 52 # 2 "t2.c"
! 2  char *s = "ab";
.data
export	_s
_s:
.word	.1+0
!BCC_EOS
! 3 
.1:
.2:
.ascii	"ab"
.byte	0
.bss

! 0 errors detected
