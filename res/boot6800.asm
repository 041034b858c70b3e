; Diskwright FLEX boot loader for the 6800.
;
; The monitor's boot command reads track 0 sector 1 of drive 0 to $A100 and jumps to $A100.
; The loader reads the file whose first sector is named by TRK/SCT (bytes 5 and 6: 01 01, the
; first free sector of a new FLEX diskette, where the first file imported begins), follows the
; file's sector chain, loads its FLEX binary records ($02: address, count, data; $16: transfer
; address; any other byte between records is skipped) and at the end of the file jumps to the
; transfer address. A read error, or a file without a transfer address, returns to the monitor
; through SWI.
;
; Controller: a WD1771/1791-type floppy controller with its command/status register at $8018,
; track $8019, sector $801A and data $801B; the drive select latch is at $8014 (0 = drive 0).
; Sector buffer: $A300-$A3FF. Bytes 212-255 of the sector ($A1D4-$A1FF) are zero on the
; diskette; the loader uses them for its variables and its stack.
;
; The loader selects side 0 and asks the controller for the sector numbers of the image
; as they are; a boot file must lie on sectors the drive finds on that side.
;
; Columns: address, bytes, label, mnemonic, operand, comment.
;
                              LATCH  EQU   $8014         ; drive select latch
                              COMREG EQU   $8018         ; command (write) / status (read)
                              TRKREG EQU   $8019         ; track register
                              SECREG EQU   $801A         ; sector register
                              DATREG EQU   $801B         ; data register
                              BUF    EQU   $A300         ; sector buffer
                              BUFEND EQU   $A400         ; first address after the buffer
;
                                     ORG   $A100
A100  20 05                   START  BRA   BEGIN         ; skip the start link
A102  00 00 00                       FCB   0,0,0         ; unused
A105  01                      TRK    FCB   1             ; track of the file to boot
A106  01                      SCT    FCB   1             ; sector of the file to boot
;
A107  8E A1 FF                BEGIN  LDS   #STACK        ; stack in the spare bytes at the end
A10A  7F 80 14                       CLR   LATCH         ; select drive 0, side 0
A10D  86 0B                          LDAA  #$0B          ; RESTORE: load head, slowest step rate
A10F  B7 80 18                       STAA  COMREG
A112  BD A1 BC                       JSR   WAIT          ; until the head is on track 0
A115  CE 00 00                       LDX   #0
A118  FF A1 D4                       STX   XFER          ; no transfer address yet
A11B  B6 A1 05                       LDAA  TRK           ; the start link as if it were the link
A11E  B7 A3 00                       STAA  BUF           ; of an exhausted sector
A121  B6 A1 06                       LDAA  SCT
A124  B7 A3 01                       STAA  BUF+1
A127  CE A4 00                       LDX   #BUFEND
A12A  FF A1 D6                       STX   PTR           ; buffer empty: first GETBYT reads
;
; Record loop: $02 data record, $16 transfer record, anything else skipped.
A12D  8D 35                   LOAD   BSR   GETBYT
A12F  81 02                          CMPA  #$02
A131  27 10                          BEQ   DATA
A133  81 16                          CMPA  #$16
A135  26 F6                          BNE   LOAD
A137  8D 2B                          BSR   GETBYT        ; transfer address, high byte
A139  B7 A1 D4                       STAA  XFER
A13C  8D 26                          BSR   GETBYT        ; low byte
A13E  B7 A1 D5                       STAA  XFER+1
A141  20 EA                          BRA   LOAD
A143  8D 1F                   DATA   BSR   GETBYT        ; load address, high byte
A145  B7 A1 D8                       STAA  ADDR
A148  8D 1A                          BSR   GETBYT        ; low byte
A14A  B7 A1 D9                       STAA  ADDR+1
A14D  8D 15                          BSR   GETBYT        ; byte count
A14F  16                             TAB
A150  27 DB                          BEQ   LOAD          ; an empty record
A152  37                      DLOOP  PSHB                ; GETBYT may use B
A153  8D 0F                          BSR   GETBYT
A155  FE A1 D8                       LDX   ADDR
A158  A7 00                          STAA  0,X           ; store the byte
A15A  08                             INX
A15B  FF A1 D8                       STX   ADDR
A15E  33                             PULB
A15F  5A                             DECB
A160  26 F0                          BNE   DLOOP
A162  20 C9                          BRA   LOAD
;
; GETBYT: next data byte of the file in A. At the end of a sector it reads the sector the
; link names; at the end of the file (a link with sector 0) it starts the program.
A164  FE A1 D6                GETBYT LDX   PTR
A167  8C A4 00                       CPX   #BUFEND
A16A  26 0D                          BNE   GETB2         ; bytes left in this sector
A16C  B6 A3 00                       LDAA  BUF           ; link: track
A16F  F6 A3 01                       LDAB  BUF+1         ; link: sector
A172  27 0C                          BEQ   GO            ; end of the file
A174  8D 11                          BSR   READ
A176  CE A3 04                       LDX   #BUF+4        ; skip link and record number
A179  A6 00                   GETB2  LDAA  0,X
A17B  08                             INX
A17C  FF A1 D6                       STX   PTR
A17F  39                             RTS
A180  FE A1 D4                GO     LDX   XFER
A183  27 36                          BEQ   ERROR         ; no transfer address
A185  6E 00                          JMP   0,X           ; start the program
;
; READ: reads track A, sector B into BUF. Seeks only when the head is elsewhere.
A187  F7 80 1A                READ   STAB  SECREG
A18A  B1 80 19                       CMPA  TRKREG
A18D  27 0A                          BEQ   READ2         ; already on that track
A18F  B7 80 1B                       STAA  DATREG        ; SEEK to the track in the data register
A192  86 1B                          LDAA  #$1B          ; SEEK: load head, slowest step rate
A194  B7 80 18                       STAA  COMREG
A197  8D 23                          BSR   WAIT
A199  CE A3 00                READ2  LDX   #BUF
A19C  86 8C                          LDAA  #$8C          ; READ SECTOR, 256-byte IBM sector
A19E  B7 80 18                       STAA  COMREG
A1A1  8D 23                          BSR   DELAY         ; status is valid only after a moment
A1A3  B6 80 18                RLOOP  LDAA  COMREG        ; status
A1A6  85 02                          BITA  #$02          ; DRQ: a byte is ready
A1A8  26 09                          BNE   RBYTE
A1AA  85 01                          BITA  #$01          ; BUSY: still reading
A1AC  26 F5                          BNE   RLOOP
A1AE  85 1C                          BITA  #$1C          ; not found, CRC error, lost data
A1B0  26 09                          BNE   ERROR
A1B2  39                             RTS
A1B3  B6 80 1B                RBYTE  LDAA  DATREG
A1B6  A7 00                          STAA  0,X
A1B8  08                             INX
A1B9  20 E8                          BRA   RLOOP
A1BB  3F                      ERROR  SWI                 ; back to the monitor
;
; WAIT: until a type I command (RESTORE, SEEK) has finished.
A1BC  8D 08                   WAIT   BSR   DELAY
A1BE  B6 80 18                WAIT2  LDAA  COMREG
A1C1  85 01                          BITA  #$01          ; BUSY
A1C3  26 F9                          BNE   WAIT2
A1C5  39                             RTS
;
; DELAY: a few tens of microseconds, until the controller has set BUSY. Uses B.
A1C6  C6 14                   DELAY  LDAB  #20
A1C8  5A                      DELAY2 DECB
A1C9  26 FD                          BNE   DELAY2
A1CB  39                             RTS
;
; Code ends here; the rest of the sector is zero and becomes working storage.
A1CC  00 00 00 00 00 00 00 00        ZMB   START+212-*   ; zero up to byte 212
A1D4  00 00                   XFER   FDB   0             ; transfer address
A1D6  00 00                   PTR    FDB   0             ; next byte in BUF
A1D8  00 00                   ADDR   FDB   0             ; where the next data byte goes
A1DA  00 00 00 00 00 00 00 00        ZMB   START+255-*   ; stack
A1E2  00 00 00 00 00 00 00 00
A1EA  00 00 00 00 00 00 00 00
A1F2  00 00 00 00 00 00 00 00
A1FA  00 00 00 00 00
A1FF  00                      STACK  FCB   0             ; top of the stack (the 6800 pushes, then decrements)

