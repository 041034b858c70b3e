; Diskwright FLEX boot loader for the 6809.
;
; The monitor's boot command reads track 0 sector 1 of drive 0 to $C100 and jumps to $C100.
; The loader reads the file whose first sector is named by TRK/SCT (bytes 5 and 6: 01 01, the
; first free sector of a new FLEX diskette, where the first file imported begins), follows the
; file's sector chain, loads its FLEX binary records ($02: address, count, data; $16: transfer
; address; any other byte between records is skipped) and at the end of the file jumps to the
; transfer address. A read error, or a file without a transfer address, returns to the monitor
; through SWI.
;
; Controller: a WD1771/1791-type floppy controller with its command/status register at $E018,
; track $E019, sector $E01A and data $E01B; the drive select latch is at $E014 (0 = drive 0).
; Sector buffer: $C300-$C3FF. The loader fills the whole sector: its code, then its stack,
; then its variables in the last bytes (zero on the diskette).
;
; Registers while loading: Y points at the next byte in the buffer, X is the load address of a
; data record, B counts its bytes.
;
; The loader selects side 0 and asks the controller for the sector numbers of the image
; as they are; a boot file must lie on sectors the drive finds on that side.
;
; Columns: address, bytes, label, mnemonic, operand, comment.
;
                              LATCH  EQU   $E014         ; drive select latch
                              COMREG EQU   $E018         ; command (write) / status (read)
                              TRKREG EQU   $E019         ; track register
                              SECREG EQU   $E01A         ; sector register
                              DATREG EQU   $E01B         ; data register
                              BUF    EQU   $C300         ; sector buffer
                              BUFEND EQU   $C400         ; first address after the buffer
;
                                     ORG   $C100
C100  20 05                   START  BRA   BEGIN         ; skip the start link
C102  00 00 00                       FCB   0,0,0         ; unused
C105  01                      TRK    FCB   1             ; track of the file to boot
C106  01                      SCT    FCB   1             ; sector of the file to boot
;
C107  10 CE C1 FC             BEGIN  LDS   #STACK        ; stack in the spare bytes at the end
C10B  7F E0 14                       CLR   LATCH         ; select drive 0, side 0
C10E  86 0B                          LDA   #$0B          ; RESTORE: load head, slowest step rate
C110  B7 E0 18                       STA   COMREG
C113  BD C1 AD                       JSR   WAIT          ; until the head is on track 0
C116  8E 00 00                       LDX   #0
C119  BF C1 FC                       STX   XFER          ; no transfer address yet
C11C  FC C1 05                       LDD   TRK           ; the start link as if it were the link
C11F  FD C3 00                       STD   BUF           ; of an exhausted sector
C122  10 8E C4 00                    LDY   #BUFEND       ; buffer empty: first GETBYT reads
;
; Record loop: $02 data record, $16 transfer record, anything else skipped.
C126  8D 31                   LOAD   BSR   GETBYT
C128  81 02                          CMPA  #$02
C12A  27 10                          BEQ   DATA
C12C  81 16                          CMPA  #$16
C12E  26 F6                          BNE   LOAD
C130  8D 27                          BSR   GETBYT        ; transfer address, high byte
C132  B7 C1 FC                       STA   XFER
C135  8D 22                          BSR   GETBYT        ; low byte
C137  B7 C1 FD                       STA   XFER+1
C13A  20 EA                          BRA   LOAD
C13C  8D 1B                   DATA   BSR   GETBYT        ; load address, high byte
C13E  B7 C1 FE                       STA   ADDR
C141  8D 16                          BSR   GETBYT        ; low byte
C143  B7 C1 FF                       STA   ADDR+1
C146  BE C1 FE                       LDX   ADDR
C149  8D 0E                          BSR   GETBYT        ; byte count
C14B  1F 89                          TFR   A,B
C14D  5D                             TSTB
C14E  27 D6                          BEQ   LOAD          ; an empty record
C150  8D 07                   DLOOP  BSR   GETBYT        ; keeps B and X
C152  A7 80                          STA   ,X+           ; store the byte
C154  5A                             DECB
C155  26 F9                          BNE   DLOOP
C157  20 CD                          BRA   LOAD
;
; GETBYT: next data byte of the file in A; keeps B, X and U. At the end of a sector it reads
; the sector the link names; at the end of the file (a link with sector 0) it starts the
; program.
C159  10 8C C4 00             GETBYT CMPY  #BUFEND
C15D  26 10                          BNE   GETB2         ; bytes left in this sector
C15F  34 14                          PSHS  B,X
C161  FC C3 00                       LDD   BUF           ; link: track in A, sector in B
C164  5D                             TSTB
C165  27 0B                          BEQ   GO            ; end of the file
C167  8D 10                          BSR   READ
C169  10 8E C3 04                    LDY   #BUF+4        ; skip link and record number
C16D  35 14                          PULS  B,X
C16F  A6 A0                   GETB2  LDA   ,Y+
C171  39                             RTS
C172  BE C1 FC                GO     LDX   XFER
C175  27 35                          BEQ   ERROR         ; no transfer address
C177  6E 84                          JMP   ,X            ; start the program
;
; READ: reads track A, sector B into BUF. Seeks only when the head is elsewhere. Uses A, X.
C179  F7 E0 1A                READ   STB   SECREG
C17C  B1 E0 19                       CMPA  TRKREG
C17F  27 0A                          BEQ   READ2         ; already on that track
C181  B7 E0 1B                       STA   DATREG        ; SEEK to the track in the data register
C184  86 1B                          LDA   #$1B          ; SEEK: load head, slowest step rate
C186  B7 E0 18                       STA   COMREG
C189  8D 22                          BSR   WAIT
C18B  8E C3 00                READ2  LDX   #BUF
C18E  86 8C                          LDA   #$8C          ; READ SECTOR, 256-byte IBM sector
C190  B7 E0 18                       STA   COMREG
C193  8D 22                          BSR   DELAY         ; status is valid only after a moment
C195  B6 E0 18                RLOOP  LDA   COMREG        ; status
C198  85 02                          BITA  #$02          ; DRQ: a byte is ready
C19A  26 09                          BNE   RBYTE
C19C  85 01                          BITA  #$01          ; BUSY: still reading
C19E  26 F5                          BNE   RLOOP
C1A0  85 1C                          BITA  #$1C          ; not found, CRC error, lost data
C1A2  26 08                          BNE   ERROR
C1A4  39                             RTS
C1A5  B6 E0 1B                RBYTE  LDA   DATREG
C1A8  A7 80                          STA   ,X+
C1AA  20 E9                          BRA   RLOOP
C1AC  3F                      ERROR  SWI                 ; back to the monitor
;
; WAIT: until a type I command (RESTORE, SEEK) has finished. Uses A.
C1AD  8D 08                   WAIT   BSR   DELAY
C1AF  B6 E0 18                WAIT2  LDA   COMREG
C1B2  85 01                          BITA  #$01          ; BUSY
C1B4  26 F9                          BNE   WAIT2
C1B6  39                             RTS
;
; DELAY: a few tens of microseconds, until the controller has set BUSY. Keeps B.
C1B7  34 04                   DELAY  PSHS  B
C1B9  C6 14                          LDB   #20
C1BB  5A                      DELAY2 DECB
C1BC  26 FD                          BNE   DELAY2
C1BE  35 84                          PULS  B,PC
;
; Code ends here; the rest of the sector is the stack, then the variables.
C1C0  00 00 00 00 00 00 00 00        ZMB   START+252-*   ; stack
C1C8  00 00 00 00 00 00 00 00
C1D0  00 00 00 00 00 00 00 00
C1D8  00 00 00 00 00 00 00 00
C1E0  00 00 00 00 00 00 00 00
C1E8  00 00 00 00 00 00 00 00
C1F0  00 00 00 00 00 00 00 00
C1F8  00 00 00 00
                              STACK  EQU   *
C1FC  00 00                   XFER   FDB   0             ; transfer address
C1FE  00 00                   ADDR   FDB   0             ; load address of a data record

