#!/usr/bin/env python3
"""Writes the hand-made system.reg files of tests/hives: well-formed corners
of Wine's format and the damage a hand-edited or truncated file can carry.
Their expected outputs come from Wine itself (record_wine.sh), never from
our own build."""

import os

U = rb'Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall'
HDR = (b'WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n'
       b'\n#arch=win64\n\n')


# 270 elements of 250 bytes below Software.
LONG = b'Software\\\\Deep\\\\' + b'\\\\'.join(bytes([97 + i % 26]) * 250 for i in range(270))


def sec(name, body=b'', stamp=b' 1796626833'):
    path = U + (b'\\\\' + name if name else b'')
    return b'[' + path + b']' + stamp + b'\n#time=1dd8618a76bb28a\n' + body + b'\n'


def dn(text):
    return b'"DisplayName"="' + text + b'"\n'


def filler(at, tail):
    """A value line cut short by a NUL early on, with `tail` from byte `at`."""
    line = b'"Filler"="pp\0'
    return line + b'q' * (at - len(line)) + tail + b'\n'


def raw(path, body=b''):
    return b'[' + path + b'] 1796626833\n#time=1dd8618a76bb28a\n' + body + b'\n'


def hex_units(text):
    return b','.join(b'%02x,00' % c for c in text)


def link_to(path):
    return b'#link\n"SymbolicLinkValue"=hex(6):' + hex_units(b'\\Registry\\Machine\\' + path) + b'\n'


def link_any(target):
    return b'#link\n"SymbolicLinkValue"=hex(6):' + hex_units(target) + b'\n'


def chain(name, links):
    """A subkey whose open follows `links` links to a key named "end NAME"."""
    keys = b'Software\\\\Chain' + name
    out = sec(b'x%d' % links, link_to(b'Software\\Chain' + name + b'\\1'))
    for k in range(1, links):
        out += b'[' + keys + b'\\\\%d] 1\n' % k + link_to(
            b'Software\\Chain' + name + b'\\%d' % (k + 1)) + b'\n'
    return out + b'[' + keys + b'\\\\%d] 1\n' % links + dn(b'end ' + name) + b'\n'


CASES = {
    # Well-formed corners.
    'basic': sec(b'B', dn(b'beta')) + sec(b'a', dn(b'Alpha')),
    'no_timestamp': sec(b'x', dn(b'No stamp'), stamp=b''),
    'escapes': sec(b'e1', dn(rb'q\"x\\y\101\x41\x00e9\xe9g\0017')) +
               sec(b'e2', dn(rb'\xd83d\xde00 pair \xd800 lone \xde00\xd83d reversed')),
    'escape_corners': sec(b'e', dn(rb'a\xg b\x0after \400 \777 \q \[')),
    'value_types': sec(b't1', b'"DisplayName"=str(2):"%ProgramFiles%\\\\App"\n') +
                   sec(b't2', b'"DisplayName"=str(7):"one\\0two\\0"\n') +
                   sec(b't3', b'"DisplayName"=dword:00414243\n') +
                   sec(b't4', b'"DisplayName"=hex:57,58,59,5a\n') +
                   sec(b't5', b'"DisplayName"=hex(1):61,00,62,00,63\n') +
                   sec(b't6', b'"DisplayName"=hex(1):\n') +
                   sec(b't7', b'"DisplayName"=hex(2):45,00,78,00\n') +
                   sec(b't8', b'"DisplayName"=hex(ffffffff):46,47,00,48\n'),
    # What a terminal would act on, beside ordinary non-ASCII text.
    'control_characters': b''.join(
        sec(b'%d' % i, dn(text)) for i, text in enumerate([
            rb'Title\x001b]0;pwned\x0007', rb'Erase\x001b[1A\x001b[2K',
            rb'Over\x000dwrite', rb'Bell\x0007Back\x0008Del\x007fTab\x0009',
            rb'Csi\x009b2J', rb'Two\x000d\x000alines', rb'Same\x0001',
            rb'Same\x0002', rb'Caf\x00e9', rb'\x65e5\x672c\x8a9e'])),
    'no_stale_names': sec(b'a1', dn(b'A Long Normal Name')) +
                      sec(b'a2', b'"DisplayName"=hex(1):\n') +
                      sec(b'a3', b'"DisplayName"=hex(1):4e,00,6f,00\n') +
                      sec(b'a4', b'"DisplayName"=hex:\n') +
                      sec(b'a5', b'"DisplayName"=hex:00,41\n'),
    'malformed_values': sec(b'm1', b'"DisplayName"="unterminated\n') +
                        sec(b'm2', b'"DisplayName"=sz:"x"\n') +
                        sec(b'm3', b'"DisplayName"=hex:zz\n') +
                        sec(b'm4', b'"DisplayName="x\n') +
                        sec(b'm5', b'"DisplayName"=str(1):"x"\n') +
                        sec(b'm6', b'"DisplayName"=hex:100\n') +
                        sec(b'm7', dn(b'good') + b'"DisplayName"=hex:zz\n') +
                        sec(b'm8', b'"DisplayName"=dword:junk\n'),
    'accepted_forms': sec(b'f1', b'"DisplayName"=str:"str form"\n') +
                      sec(b'f2', b'  "DisplayName" \t= "spaced"\n') +
                      sec(b'f3', b'"DisplayName"=hex( 1):41,00\n') +
                      sec(b'f4', b'"DisplayName"=hex(0x1):42,00\n') +
                      sec(b'f5', b'"DisplayName"=hex(1):43 , 00\n') +
                      sec(b'f6', b'"DisplayName"=hex(1):0x44,0\n') +
                      sec(b'f7', b'"DisplayName"="after" junk\n') +
                      sec(b'f8', b'"displayname"="lower case name"\n') +
                      sec(b'f9', b'"DisplayName"=hex(-1):49,00\n'),
    'continuations': sec(b'c1', b'"DisplayName"=hex(1):41,00,\\\n  42,00\n') +
                     sec(b'c2', b'"DisplayName"=hex(1):43,00\\\n  44,00\n') +
                     sec(b'c3', b'"DisplayName"=hex(1):45,00,\\\n\n"Other"=dword:1\n') +
                     sec(b'c4', b'"DisplayName"=hex(1):46,00,\\\n[' + U +
                         b'\\\\c5] 1\n' + dn(b'eaten section')),
    'duplicate_sections': sec(b'd', dn(b'first') + b'"Other"="o"\n') +
                          sec(b'x', dn(b'x')) + sec(b'D', b'"DISPLAYNAME"="second"\n'),
    'unsorted_sections': sec(b'zeta', dn(b'Foo')) + sec(b'_x', dn(b'FOO')) +
                         sec(b'10', dn(b'foo')) + sec(b'9', dn(b'fOO')) +
                         sec(b'\\[', dn(b'FoO')) + sec(b'A', dn(b'Foo')) +
                         sec(b'`', dn(b'FOo')) + sec(b'^', dn(b'foO')),
    'implicit_keys': sec(b'implicit\\\\sub', dn(b'only below')) + sec(b'has', dn(b'has')),
    'crlf_line_ends': (HDR + sec(b'r1', dn(b'crlf')) + sec(b'r2', dn(b'two'))
                       ).replace(b'\n', b'\r\n'),
    'nul_bytes': sec(b'n1', dn(b'before\x00after')) +
                 sec(b'n2', b'"Display\x00Name"="x"\n' + dn(b'n2')) +
                 sec(b'n3\x00junk', dn(b'n3')),
    # Wine reads a line in reads of its buffer's size less one; a NUL ends
    # the line, and the bytes after the read that took it are the next
    # line.  The header lines here leave the buffer at 94 bytes.
    'nul_split_before_value': sec(b'A', filler(93, b'"DisplayName"="Split at 93"')) +
                              sec(b'B', filler(92, b'"DisplayName"="Split at 92"')) +
                              sec(b'C', filler(94, b'"DisplayName"="Split at 94"')) +
                              sec(b'D', dn(b'After')),
    'nul_split_before_header': sec(b'A', dn(b'First') + filler(93, b'[' + U + b'\\\\B] 1796626833')) +
                               dn(b'Below the split header') + b'\n' + sec(b'C', dn(b'Last')),
    'nul_split_in_continuation':
        sec(b'A', b'"DisplayName"=hex(1):41,00,42,00,\\\n  43,00,00,00\0' + b'q' * 88 +
            b'"Publisher"="x"\n') +
        sec(b'B', b'"DisplayName"=hex(1):44,00,\\\n  45,00,00,00,\\\0' + b'q' * 81 +
            b'[' + U + b'\\\\C] 1\n' + dn(b'Eaten or not') + b'\n') +
        sec(b'D', dn(b'Last')),
    # Zeros where a disk lost part of the file: B's header starts a line
    # after 44 reads of 93 zeros, C's, after one zero more, does not, and
    # C's value goes to B.
    'nul_zero_block': sec(b'A', dn(b'Before the zeros')) + b'\0' * (44 * 93) +
                      sec(b'B', dn(b'After the zeros')) + b'\0' * (44 * 93 + 1) +
                      sec(b'C', dn(b'After one zero more')) +
                      sec(b'D', b'"DisplayName"=\0"Cut"\n"Publisher"="p"\n'),
    'raw_utf8': sec(b'u1', dn(b'caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x98\x80')) +
                sec(b'u2', dn(b'bad\xffx\xe9A\xc0\x80z\xed\xa0\x80w\xf4\x90\x80\x80v')) +
                sec(b'u\xc3\xa9', dn(b'key with e acute')) +
                sec(b'u4', dn(b'escaped \\\xc3\xa9')),
    'key_names': sec(rb'Key \[Brackets\]', dn(b'brackets')) +
                 sec(rb'Cl\xe9\x65e5\xd83d\xde00', dn(b'unicode key')) +
                 sec(rb'lone\xd800', dn(b'lone surrogate key is unopenable')) +
                 sec(b'quote"key', dn(b'quote key')),
    'nul_in_key_names': sec(rb'has\0nul', dn(b'hidden behind has')) +
                        sec(b'has', dn(b'plain has')) + sec(rb'\0lead', dn(b'leading nul')),
    'name_length_limit': sec(b'L1', dn(b'x' * 1022)) + sec(b'L2', dn(b'y' * 1023)) +
                         sec(b'L3', b'"DisplayName"=hex(1):' + hex_units(b'z' * 1023) + b'\n') +
                         sec(b'L4', b'"DisplayName"=hex(1):' + hex_units(b'w' * 1024) + b'\n'),
    'key_name_limit': sec(b'k' * 256, dn(b'256 units')) + sec(b'j' * 257, dn(b'257 units')) +
                      sec(b'\xc3\xa9' * 257, dn(b'257 non-ASCII units')) +
                      sec(rb'\xd83d\xde00' * 128, dn(b'128 pairs')) + sec(b'ok', dn(b'ok')),
    'wow6432node': sec(b'n', dn(b'native')) +
                   b'[Software\\\\Wow6432Node\\\\Microsoft\\\\Windows\\\\CurrentVersion'
                   b'\\\\Uninstall\\\\w] 1\n' + dn(b'32-bit view') + b'\n',
    'empty_uninstall': sec(b''),
    'links': sec(b'l1', link_to(b'Software\\Target')) +
             sec(b'l2', link_to(b'Software\\Missing')) +
             sec(b'l3', b'#link\n"SymbolicLinkValue"=hex(6):' +
                 hex_units(b'\\Registry\\Machine\\' + U.replace(b'\\\\', b'\\') + b'\\l3') + b'\n') +
             sec(b'l4', b'#linkXYZ\n"SymbolicLinkValue"=hex(6):' +
                 hex_units(b'\\REGISTRY\\MACHINE\\Software\\\\Target\\') + b'\n') +
             sec(b'l5', b'#link\n"SymbolicLinkValue"=hex(6):' +
                 hex_units(b'\\Registry\\\\Machine\\Software\\Target') + b'\n') +
             b'[Software\\\\Target] 1\n' + dn(b'link target') + b'\n',
    # Consecutive paths that share bytes, which the reader resumes after.
    'section_paths': sec(b'p1\\\\sub', dn(b'p1 sub')) +
                     sec(b'p1\\\\sub\\\\deeper', dn(b'p1 deeper')) +
                     sec(b'p1\\\\sUB2', dn(b'p1 sub2')) +
                     sec(b'P1', dn(b'p1 itself, other case')) +
                     sec(rb'esc\x5cpart', dn(b'separator from an escape')) +
                     sec(rb'esc\x5cpart2', dn(b'sibling after escape')) +
                     sec(rb'esc\134part', dn(b'octal separator')) +
                     sec(rb'br\]ack\\x', dn(b'escaped bracket prefix')) +
                     sec(rb'br\]ack\\y', dn(b'escaped bracket sibling')) +
                     sec(b'ab', dn(b'ab')) + sec(b'abc\\\\d', dn(b'abc d')) +
                     b'[' + U + b'\\\\bad\\\\no close\n' + dn(b'dropped') + b'\n' +
                     sec(b'bad\\\\after', dn(b'after a bad header')) +
                     sec(b'lnk', link_to(b'Software\\LinkTarget')) +
                     sec(b'lnk\\\\through', dn(b'placed under the target')) +
                     sec(b'lnk\\\\through2', dn(b'also under the target')) +
                     b'[Software\\\\LinkTarget] 1\n' + dn(b'link target') + b'\n' +
                     # Parents named after their children: each must find the
                     # key its children's sections made.
                     sec(b'P1\\\\', dn(b'p1 again, last write wins')) +
                     sec(b'esc', dn(b'esc, parent of part')) +
                     sec(rb'br\]ack', dn(b'br]ack, parent of x and y')) +
                     sec(b'abc', dn(b'abc, parent of d')) +
                     sec(b'bad', dn(b'bad, parent of after')) +
                     sec(b'BAD\\\\after\\\\', b'"Extra"="merged"\n'),
    # White space is C's isspace class wherever Wine skips it.
    'space_class': sec(b's1', b'\x0b"DisplayName"="vt before the line"\n') +
                   sec(b's2', b'\x0c"DisplayName"="ff before the line"\n') +
                   sec(b's3', b'\r"DisplayName"="lone cr before the line"\n') +
                   sec(b's4', b'"DisplayName"\x0b\r=\x0c "around the equals"\n') +
                   sec(b's5', b'"DisplayName"=hex(1):41,\x0b00\x0c,\r42,00\x0b\n') +
                   sec(b's6', b'"DisplayName"=hex(1):43,00,\\\x0b\n\x0c\x0b 44,00\n') +
                   b'\x0b\x0c[' + U + b'\\\\s7] 1\n' + dn(b'header after vt and ff') + b'\n',
    # Hex lists: where the first byte stands, separators, signs, and what
    # may follow a continuation backslash.
    'hex_lists': sec(b'h1', b'"DisplayName"=hex: 41,00\n') +
                 sec(b'h2', b'"DisplayName"=hex:\t41,00\n') +
                 sec(b'h3', b'"DisplayName"=hex(1):e9 00\n') +
                 sec(b'h4', b'"DisplayName"=hex(1):42,+41\n') +
                 sec(b'h5', b'"DisplayName"=hex(1):44,00,\\ junk\n  45,00\n') +
                 sec(b'h6', b'"DisplayName"=hex(1):46,00,\\\r\r\n  47,00\n') +
                 sec(b'h7', b'"DisplayName"=hex(1):48,00,\\\\\n  49,00\n') +
                 sec(b'h8', b'"DisplayName"=hex(1):4a,,00\n') +
                 sec(b'h9', b'"DisplayName"=hex(1):4b,00 junk\n') +
                 sec(b'ha', b'"DisplayName"=hex(1):4c,-1\n') +
                 sec(b'hb', b'"Other"=hex:01,\\ skipped\n[' + U + b'\\\\eaten] 1\n' +
                     dn(b'on hb, after the eaten header')) +
                 sec(b'hc', b'"DisplayName"=hex(1):4d,00 \\\n' + dn(b'hc, after a continued line')),
    # A hex byte is a number kept in 32 bits before it is checked, and a
    # hex(N) type likewise.  Each name starts with its own letter; a
    # malformed one is empty.
    'hex_numbers': b''.join(
        sec(b'n%02d' % i,
            b'"DisplayName"=hex(1):%02x,00,3d,00,' % (0x61 + i) + form + b',00\n')
        for i, form in enumerate([
            b'100000041', b'ffffffff00000041', b'0x0000000100000041',
            b'0X100000041', b'1000000ff', b'200000000', b'141', b'100000100',
            b'1ffffff41', b'fffffffff', b'10000000000000041',
            b'ffffffffffffffff', b'00000000000000000000041', b'0x41', b'041',
            b'0x', b'0xg', b'42,100000043', b'44 100000045', b'4', b'00'])) +
        b''.join(sec(b't%d' % i,
                     b'"DisplayName"=hex(' + form + b'):54,00,%02x,00\n' % (0x30 + i))
                 for i, form in enumerate([
                     b'100000001', b'1ffffffff', b'10000000000000001',
                     b'-ffffffff', b'0x100000001', b'00000000000000000001'])),
    # Whatever stands after a hex list's backslash, the next line belongs to
    # the list: a header there is eaten, with a CR LF too.  A '#' line after
    # a list that ended is a line of its own: a "#link" there makes a link.
    'continuation_tails': sec(b's1', b'"Other"=hex:41,\\ trailing text\r\n[' + U +
                              b'\\\\eaten1] 1\r\n' + dn(b's1, after eaten1')) +
                          sec(b's2', b'"Other"=hex:41,\\\r\n[' + U +
                              b'\\\\eaten2] 1\r\n' + dn(b's2, after eaten2')) +
                          sec(b's3', b'"Other"=hex:41,\\ more\n  42,\\ text\n[' + U +
                              b'\\\\eaten3] 1\n' + dn(b's3, after eaten3')) +
                          sec(b'p1', b'"DisplayName"=hex(1):41,00,\\ text\r\n  42,00\r\n') +
                          sec(b'k1', b'"Other"=hex:41,\\\n  42\n' +
                              link_to(b'Software\\LT1')) +
                          b'[Software\\\\LT1] 1\n' + dn(b'k1, a link after a list') + b'\n' +
                          sec(b'k2', b'"Other"=hex:41,\\ x\n  42\n#class="c"\n' +
                              dn(b'k2, after a list and #class')) +
                          sec(b'k3', b'"Other"=hex:41,\\\n' + link_to(b'Software\\LT1') +
                              dn(b'k3, its #link eaten')),
    # A section again for a link whose target is a link writes at the end
    # of the chain; a target's last element may be 256 units long, not 257.
    'link_chains_and_limits': sec(b'c1', link_to(b'Software\\C1a')) +
                              b'[Software\\\\C1a] 1\n' + link_to(b'Software\\C1b') + b'\n' +
                              b'[Software\\\\C1b] 1\n"x"="x"\n\n' +
                              sec(b'c1', dn(b'c1, written through the chain')) +
                              sec(b'e256', link_to(b'Software\\' + b'e' * 256)) +
                              sec(b'e256', dn(b'e256, made through the link')) +
                              sec(b'f257', link_to(b'Software\\' + b'f' * 257)) +
                              sec(b'f257', dn(b'f257, made through the link')),
    # Outside a section, #arch= again with the same value goes on; another
    # value stops loading.
    'arch_changes': b'#arch=win64\n' + sec(b'a1', dn(b'a1')) +
                    b'[' + U + b'\\\\no close\n#arch=win64\n' + sec(b'a2', dn(b'a2')) +
                    b'[' + U + b'\\\\no close\n#arch=win32\n' + sec(b'a3', dn(b'a3')),
    # Escapes in names: an escaped backslash in a path separates elements,
    # and an escaped value name matches without regard to case.
    'escaped_names': b'[' + U + b'\\x5cq1] 1\n' + dn(b'q1, below \\\\x5c') + b'\n' +
                     b'[' + U + b'\\\\q2\\x5c] 1\n' + dn(b'q2, a trailing \\\\x5c') + b'\n' +
                     b'[' + U + b'\\\\q3\\x5csub] 1\n' + dn(b'q3, one below') + b'\n' +
                     sec(b'v1', b'"DISPLAYNAM\\x45"="v1, an escaped name"\n') +
                     sec(b'v2', b'"displayn\\x61me"="v2, escaped in lower case"\n') +
                     sec(b'v3', b'"Display\\x004eame"="v3, an escaped capital"\n'),
    # A CR in a name stays; the LF after it still becomes CR LF.
    'carriage_returns': sec(b'r1', dn(b'Tool\\r')) + sec(b'r2', dn(b'Two\\r\\rCRs')) +
                        sec(b'r3', dn(b'\\rLeading')) + sec(b'r4', dn(b'Line\\n')),
    # dword: is strtoul: out of range is all ones whatever the sign.
    'dword_range': sec(b'd1', b'"DisplayName"=dword:-10000000000000000\n') +
                   sec(b'd2', b'"DisplayName"=dword:10000000000000000\n') +
                   sec(b'd3', b'"DisplayName"=dword:-1\n') +
                   sec(b'd4', b'"DisplayName"=dword:-2\n') +
                   sec(b'd5', b'"DisplayName"=dword:\x0b 41\n') +
                   sec(b'd6', b'"DisplayName"=dword:+42\n') +
                   sec(b'd7', b'"DisplayName"=dword:0x43\n'),
    # A link key's section that comes again writes on the link's target.
    'link_section_again': sec(b'L1', link_to(b'Software\\T1')) +
                          b'[Software\\\\T1] 1\n' + dn(b'target before') + b'\n' +
                          sec(b'l1', dn(b'OnLink')) +
                          sec(b'L1\\\\below', dn(b'below the link')),
    'link_section_again_whole': sec(b'L2', link_to(b'Software\\T2')) +
                                b'[Software\\\\T2] 1\n' + dn(b'target before') + b'\n' +
                                sec(b'L2', link_to(b'Software\\T2') +
                                    dn(b'OnLink whole')) +
                                sec(b'x', dn(b'x')),
    # ... and makes that target when it is missing, but not its parent.
    'link_section_makes_target': sec(b'M1', link_to(b'Software\\T3')) +
                                 sec(b'M1', dn(b'made through the link')) +
                                 sec(b'M2', link_to(b'Software\\T4\\deeper')) +
                                 sec(b'm2', dn(b'not made: two missing')) +
                                 b'[Software\\\\T6] 1\n"x"="x"\n\n' +
                                 sec(b'M4', link_to(b'Software\\T6\\deeper')) +
                                 sec(b'M4', dn(b'made below a key there')) +
                                 sec(b'M3', link_to(b'Software\\T5')) +
                                 sec(b'M3\\\\below', dn(b'not made: through the link')),
    # A section through a link to a missing key makes the key when the key
    # that holds it is there: C and D open what it made.
    'link_through_missing': sec(b'A', link_to(b'Software\\T9')) +
                            sec(b'A\\\\sub', dn(b'via A')) +
                            sec(b'C', link_to(b'Software\\T9\\sub')) +
                            sec(b'B', link_to(b'Software\\Nope\\T8')) +
                            sec(b'B\\\\sub', dn(b'via B')) +
                            sec(b'D', link_to(b'Software\\Nope\\T8\\sub')),
    # Links to their own parent, walked through again and again.
    'link_to_parent': sec(b'P', link_to(U.replace(b'\\\\', b'\\'))) +
                      sec(b'P\\\\P\\\\A', dn(b'A, through P twice')) +
                      b'[Software\\\\Z] 1\n"Z"="z"\n\n' +
                      sec(b'P\\\\P\\\\B', dn(b'B, through P twice')) +
                      sec(b'Q\\\\x', dn(b'Q x')) +
                      sec(b'Q', link_to(U.replace(b'\\\\', b'\\'))) +
                      sec(b'Q\\\\y', dn(b'y, through Q become a link')) +
                      sec(b'Q\\\\x\\\\z', dn(b'z, through Q to x')),
    # A NUL in a subkey's name: opened by the part before it, the name would
    # reach another key, here the Uninstall key itself.
    'nul_names_open_others': sec(b'', dn(b'on the Uninstall key itself')) +
                             sec(rb'\0lead', dn(b'leading nul')) + sec(b'k', dn(b'k')),
    # A too-long element drops its section even with more path after it.
    'long_element_then_more': sec(b'L' * 257 + b'\\\\sub', dn(b'below a too-long element')) +
                              sec(b'M' * 256 + b'\\\\sub', dn(b'not listed: two deep')) +
                              sec(b'ok', dn(b'ok')),
    # Opening follows at most 32 links: x32 takes 32, x33 one more.
    'link_chain_limit': chain(b'A', 32) + chain(b'B', 33),
    # "#link" is a prefix test; no other key leads to this target.
    'link_prefix_test': sec(b'x1', b'#linkXYZ\n"SymbolicLinkValue"=hex(6):' +
                            hex_units(b'\\Registry\\Machine\\Software\\TX') + b'\n') +
                        b'[Software\\\\TX] 1\n' + dn(b'through #linkXYZ') + b'\n',
    # #arch is an option of the file only outside a section: after a
    # malformed header, where no section is open, a bad one stops loading.
    'arch_after_malformed_header': sec(b'b', dn(b'before')) + b'#arch=win99\n' +
                                   sec(b'c', dn(b'after the #arch in a section')) +
                                   b'[' + U + b'\\\\no close\n#arch=win99\n' +
                                   sec(b'a', dn(b'after the #arch outside')),
    # A link key's section again, with #link, makes its target a link: here
    # CurrentVersion, which the next section's path runs through afresh.
    'link_made_above': sec(b'a', dn(b'a, below the old Uninstall')) +
                       sec(b'L', link_to(b'Software\\Microsoft\\Windows\\CurrentVersion')) +
                       sec(b'L', link_to(b'Software\\T7')) +
                       sec(b'X', dn(b'X, after CurrentVersion became a link')),
    # Sections are read into a key only when something looks among its
    # subkeys.  Through a link far from the Uninstall key, sections land
    # in it; a key's literal subkeys from before it became a link stay its
    # own (Before), the same path after goes through the link.
    'link_far_away': raw(b'Software\\\\Far\\\\Away\\\\Before', b'"x"="x"\n') +
                     sec(b'own', dn(b'own')) +
                     raw(b'Software\\\\Far\\\\Away', link_to(U.replace(b'\\\\', b'\\'))) +
                     raw(b'Software\\\\Far\\\\Away\\\\Through', dn(b'through the far link')) +
                     raw(b'Software\\\\Far\\\\Away\\\\before', dn(b'Before again, through the link')) +
                     raw(b'System\\\\Up', link_to(b'Software\\Microsoft\\Windows\\CurrentVersion')) +
                     raw(b'System\\\\Up\\\\Uninstall\\\\Up', dn(b'up through CurrentVersion')),
    # A link's target made in a key that only unread sections make.
    'link_target_in_unread_key': raw(b'Software\\\\Lazy\\\\Parent\\\\x', b'"x"="x"\n') +
                                 sec(b'L', link_to(b'Software\\Lazy\\Parent\\Target')) +
                                 sec(b'L', dn(b'made in a key only unread sections made')),
    # A key's sections from before and after its parent was read into: the
    # later line for the name wins.
    'sections_before_and_after_reading': sec(b'A', dn(b'first, kept unread')) +
                                         sec(b'Z', link_to(b'Software\\Nowhere')) +
                                         sec(b'A', dn(b'second, read at once')),
    # A subkey with an escape, made while its parent's unread sections
    # with escapes of their own are read.
    'escaped_below_unread': sec(rb'p\\\x44eep', dn(b'deep')) +
                            sec(rb'\x41x', dn(b'first, for the same key')) +
                            sec(b'AX', dn(b'second, for the same key')),
    # A path too long to be left unread among short ones.
    'long_path_below_unread': sec(b'short', dn(b'short')) +
                              sec(b'\\\\'.join([b'long'] + [b'd%d' % i for i in range(90)]),
                                  dn(b'ninety deep')) +
                              sec(b'long', dn(b'long')),
    # A link made at the end of a header line of more than 64 KiB, and a
    # section through it.
    'long_header_through_link':
        sec(b'own', dn(b'own')) +
        raw(LONG + b'\\\\Link', link_to(U.replace(b'\\\\', b'\\'))) +
        raw(LONG + b'\\\\Link\\\\Far', dn(b'through a link far into its header')),
    # A hex list that goes on takes the line after it whatever it holds, up
    # to a line that breaks the list.
    'eaten_lines': sec(b'E', dn(b'E, its #link eaten') + b'"Bin"=hex:01,\\\n#link\n' +
                       b'"SymbolicLinkValue"=hex(6):' +
                       hex_units(b'\\Registry\\Machine\\Software\\Nowhere') + b'\n') +
                   sec(b'F', dn(b'F') + b'"Bin"=hex:01,\\\n  02,\\\n[' + U +
                       b'\\\\eaten] 1\n' + dn(b'F, after the eaten header')) +
                   sec(b'G', dn(b'G') + b'"Bin"=hex:01,\\\n  zz,\\\n[' + U +
                       b'\\\\kept] 1\n' + dn(b'kept: the list broke before')) +
                   sec(b'H', dn(b'H') + b'"Bin"=hex:01,\\\n' +
                       dn(b'H, a value line the list takes')),
    # A section dropped for a too-long element opens none: the #arch after
    # it stands outside any section and stops the load.
    'arch_after_dropped_section': sec(b'before', dn(b'before')) +
                                  sec(b'L' * 257, b'#arch=win99\n') +
                                  sec(b'after', dn(b'not read: after the #arch')),
    # "#link" inside a value's text makes no link.
    'link_text_in_values': sec(b'V', b'"Note"="see\t#link"\n' + dn(b'#link in a value') +
                               b'"SymbolicLinkValue"=hex(6):' +
                               hex_units(b'\\Registry\\Machine\\Software\\Nowhere') + b'\n'),
    # A link's target is found in Wine's whole tree: below "\\Registry" a
    # section makes the target through a link there as it does in the
    # machine hive, and a link to "\\Registry" itself reaches it.
    'links_outside_machine':
        sec(b'ToMa', link_any(b'\\Registry\\Ma')) +
        sec(b'ToMa', dn(b'on Ma, made through the link')) +
        sec(b'ToSub', link_any(b'\\REGISTRY\\ma\\\\Sub\\')) +
        sec(b'ToSub', dn(b'on Sub below Ma')) +
        sec(b'ToRoot', link_any(b'\\Registry')) +
        sec(b'ToRoot', dn(b'on the registry itself')) +
        sec(b'Doubled', link_any(b'\\Registry\\\\Ma')) +
        sec(b'Doubled', dn(b'not read: doubled after Registry')) +
        sec(b'Deep', link_any(b'\\Registry\\Nowhere\\x')) +
        sec(b'Deep', dn(b'not read: the target has no parent')) +
        raw(b'', dn(b'not read: on HKLM, which no link reaches')) +
        sec(b'Unmade', link_any(b'\\Registry\\Unmade')),
    # A later section through a link to HKLM or to "\\Registry" with a
    # #link line makes that key a link, and Wine opens HKEY_LOCAL_MACHINE
    # through it: by its link to another key, or not at all.
    'hklm_made_a_link':
        sec(b'a', dn(b'not read: HKLM no longer opens')) +
        sec(b'ToHklm', link_any(b'\\Registry\\Machine')) +
        sec(b'ToHklm', link_any(b'\\Registry\\Machine\\Software\\Other')) +
        raw(b'Software\\\\Other', dn(b'not read: the link leads back through HKLM')),
    'hklm_linked_elsewhere':
        sec(b'a', dn(b'not read: HKLM opens elsewhere')) +
        raw(b'Software\\\\ToMa', link_any(b'\\Registry\\Ma')) +
        raw(b'Software\\\\ToMa\\\\' + U + b'\\\\b', dn(b'b below Ma, which HKLM opens')) +
        raw(b'Software\\\\ToHklm', link_any(b'\\Registry\\Machine')) +
        raw(b'Software\\\\ToHklm', link_any(b'\\Registry\\Ma')),
    'registry_made_a_link':
        sec(b'a', dn(b'not read: nothing opens')) +
        sec(b'ToRoot', link_any(b'\\Registry')) +
        sec(b'ToRoot', link_any(b'\\Registry\\Machine')),
    # One run of waiting sections: the first makes Software read into (its
    # next element is no plain one), so the later ones, whose paths share
    # its first element, go on below Software one by one.
    'run_below_a_key_read_into':
        raw(b'Software\\\\\xc3\xa9', dn(b'not read: not below Uninstall')) +
        sec(b'a', dn(b'a')) + sec(b'b', dn(b'b')),
    # Unread sections whose first elements share their first bytes.
    'similar_names_unread': sec(b'a', dn(b'a')) +
                            raw(b'Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\UninstalX\\\\x',
                                dn(b'not below the Uninstall key')) +
                            raw(b'Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\UninstallX\\\\y',
                                dn(b'nor this')) +
                            raw(b'Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\b',
                                dn(b'b')),
    # The same where the line before holds a backslash, so that the body
    # is read line by line.
    'link_prefix_line_by_line': sec(b'x2', b'"Path"="C:\\\\dir"\n#linkXYZ\n"SymbolicLinkValue"=hex(6):' +
                                    hex_units(b'\\Registry\\Machine\\Software\\TX2') + b'\n') +
                                b'[Software\\\\TX2] 1\n' + dn(b'through #linkXYZ, read line by line') + b'\n',
    # Empty elements of a path are passed over, after a key too.
    'empty_elements': sec(b'A\\\\\\\\', dn(b'A, an empty element after it')) +
                      sec(b'\\\\\\\\B', dn(b'B, an empty element before it')) +
                      sec(b'C\\\\\\\\\\\\\\\\D', dn(b'D, below C past two')),
    # A key named as its parent, reached straight after it.
    'child_named_as_parent': sec(b'x', dn(b'x')) +
                             sec(b'x\\\\L', link_to(b'Software\\Nowhere')) +
                             sec(b'x\\\\x', dn(b'not listed: x below x')),
    'values_outside_sections': dn(b'before any section') + sec(b'v', dn(b'v')) +
                               b'[unterminated section\n' + dn(b'dropped') + sec(b'w', dn(b'w')),
    'arch_stops_loading': sec(b'b', dn(b'before')) + b'#arch=win99\n' + sec(b'a', dn(b'after')),
    'comments_and_junk': b'; comment\nrandom junk line\n' + sec(b'j', b'; inside\n' + dn(b'kept')),
    'deep_path': sec(b'\\\\'.join([b'a'] * 10000), dn(b'very deep')) + sec(b'shallow', dn(b'shallow')),
    'long_line': sec(b'big', dn(b'b' * (1 << 20))) + sec(b'small', dn(b'small')),
    # Files that are no hive at all.
    'empty_file': None,
    'header_only': b'WINE REGISTRY Version 2\n',
    'no_header': sec(b'a', dn(b'A')),
    'version_1': HDR.replace(b'Version 2', b'Version 1') + sec(b'a', dn(b'A')),
    'header_with_junk': HDR.replace(b'Version 2', b'Version 2x') + sec(b'a', dn(b'A')),
    'indented_header': b' ' + HDR + sec(b'a', dn(b'A')),
    'binary_garbage': bytes((i * 167 + 13) % 256 for i in range(4096)),
}

# A file cut short in the middle of things: each keeps what came before.
FULL = HDR + sec(b'first', dn(b'first')) + sec(b'second', dn(rb'sec\x00e9nd') +
                                                  b'"Bin"=hex:01,02,\\\n  03\n')
for name, marker in [('truncated_in_header', b'[Software\\\\Micro'),
                     ('truncated_in_string', b'"sec'),
                     ('truncated_in_escape', rb'sec\x00'),
                     ('truncated_in_continuation', b',\\\n')]:
    cut = FULL.rindex(marker) + len(marker)
    CASES[name] = FULL[:cut]


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for name, body in CASES.items():
        if body is None:
            data = b''
        elif body.startswith(b'WINE') or name in (
                'no_header', 'indented_header', 'binary_garbage') or name.startswith('truncated'):
            data = body
        else:
            data = HDR + body
        with open(os.path.join(here, name + '.reg'), 'wb') as f:
            f.write(data)
    print(len(CASES), 'hives')


if __name__ == '__main__':
    main()
