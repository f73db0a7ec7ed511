#!/usr/bin/env python3
"""Puts small faults into the code one at a time and runs the whole suite
against each: a fault that every test lets through survives, and fails this
run unless it is listed as equivalent (it changes no behaviour).

    tests/mutation/run.py [--build DIR] [--only SUBSTRING]

The tree is copied (the files git tracks, as they are in the work tree) to a
scratch folder and built there once; each mutant then rebuilds only what it
touches, and with ccache installed the restored file after it is not
compiled again.  Prints one line a mutant and the score, killed / applicable.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

# (file, text as it stands, the fault, the behaviour it breaks)
MUTANTS = [
    ('listing/display_name_list.cc', "c <= 'Z') ?",
     "c <= 'Y') ?",
     'the fold leaves Z a capital'),
    ('listing/display_name_list.cc', 'CompareNoCase(text + same, other->text + same) < 0',
     'CompareNoCase(text + same, other->text + same) <= 0',
     'equal names lose the order in which they were added'),
    ('listing/display_name_list.cc', 'if (first < other_first) break;',
     'if (first > other_first) break;',
     'first bytes order backwards'),
    ('listing/display_name_list.cc', 'countr_zero(x ^ y) / 8)',
     'countr_zero(x ^ y) / 8 + 1)',
     'the comparison starts past the first byte that differs'),
    ('listing/display_name_list.cc', 'return fx < fy ? -1 : 1;',
     'return fx > fy ? -1 : 1;',
     'names are ordered backwards'),
    ('listing/display_name_list.cc', '      ++count;\n',
     '',
     'the count line counts nothing'),
    ('listing/display_name_list.cc', 'std::strcmp(previous->text, entry->text)',
     'CompareNoCase(previous->text, entry->text)',
     'names differing in case are merged'),
    ('listing/display_name_list.cc', '"%ld items\\n"',
     '"%ld item\\n"',
     'the count line has another word'),
    ('listing/display_name_list.cc', '      if (terminal) {',
     '      if (terminal && false) {',
     'a terminal is given the control characters of names'),
    ('listing/display_name_list.cc', 'if (*c < 0x20 || *c == 0x7F) return 1;',
     'if (*c < 0x1F || *c == 0x7F) return 1;',
     'U+001F reaches a terminal'),
    ('listing/display_name_list.cc', 'c[1] >= 0x80 && c[1] <= 0x9F ? 2 : 0;',
     'c[1] >= 0x80 && c[1] < 0x9F ? 2 : 0;',
     'U+009F reaches a terminal'),
    ('listing/display_name_list.cc', '*c >= 0x80 && *c <= 0x9F ? 1 : 0;',
     '0;',
     'a console outside UTF-8 is given bytes it may take for C1 controls'),
    ('listing/display_name_list.cc', '    c += control;\n',
     '    c += 1;\n',
     'the second byte of a C1 control reaches a terminal'),
    ('scan/uninstall_scan.cc', 'if (listed == ERROR_MORE_DATA) continue;',
     'if (listed == ERROR_MORE_DATA) break;',
     'a name that does not fit ends the walk'),
    ('scan/uninstall_scan.cc', "std::memchr(name, '\\0', name_size) != nullptr",
     'false',
     'a name with a NUL opens another key'),
    ('scan/uninstall_scan.cc', "text[text_size < kCapacity ? text_size : kCapacity] = '\\0';",
     '',
     'an unterminated value shows the previous name'),
    ('scan/uninstall_scan.cc', 'DWORD text_size = kCapacity;',
     'DWORD text_size = kCapacity - 1;',
     'the longest name is 1021 bytes'),
    ('scan/uninstall_scan.cc', 'if (listed != ERROR_NO_MORE_ITEMS) UninstallScanIncomplete = true;',
     '',
     'a walk cut short by an error passes as whole'),
    ('scan/uninstall_scan.cc', 'if (OutOfMemory(read)) UninstallScanIncomplete = true;',
     '',
     'a name lost to memory passes as whole'),
    ('app/main.cc', '    CoUninitialize();\n    return kStartFailed;',
     '    return kStartFailed;',
     'COM stays initialized after "Cannot open"'),
    ('app/main.cc', 'written && !DisplayNameLost && ',
     'written && ',
     'a name lost to memory passes as whole'),
    ('app/main.cc', 'const bool written = std::fflush(stdout) == 0 && !std::ferror(stdout);',
     'const bool written = true;',
     'failed output passes as success'),
    ('platform/registry_posix.cc', "sub_key[0] == '\\\\') return ERROR_BAD_PATHNAME;",
     "sub_key[0] == '\\\\') return ERROR_FILE_NOT_FOUND;",
     'RegOpenKeyExA: a leading backslash gives 2, not 161'),
    ('platform/registry_posix.cc', '  return ERROR_INVALID_HANDLE;\n}\n\nbool ResetRegistryForTesting',
     '  return ERROR_SUCCESS;\n}\n\nbool ResetRegistryForTesting',
     'RegCloseKey: a closed handle closes again'),
    ('platform/registry_posix.cc', 'if (text.size() + 1 > *name_size ||',
     'if (text.size() > *name_size ||',
     'RegEnumKeyExA: a name with no room for its NUL is written'),
    ('platform/registry_posix.cc', '*name_size = static_cast<DWORD>(text.size());',
     '*name_size = static_cast<DWORD>(text.size() + 1);',
     'RegEnumKeyExA: the length counts the NUL'),
    ('platform/registry_posix.cc', 'if (index >= subkeys.size()) return ERROR_NO_MORE_ITEMS;',
     'if (index > subkeys.size()) return ERROR_NO_MORE_ITEMS;',
     'RegEnumKeyExA: one index past the last subkey'),
    ('platform/registry_posix.cc', "bytes.size() < *data_size && bytes.back() != '\\0'",
     "bytes.size() <= *data_size && bytes.back() != '\\0'",
     'RegQueryValueExA: a terminator one byte past the buffer'),
    ('platform/registry_posix.cc', 'if (bytes.size() > *data_size) {',
     'if (bytes.size() >= *data_size) {',
     'RegQueryValueExA: data that fills the buffer is refused'),
    ('platform/registry_posix.cc', '        *data_size = static_cast<DWORD>(bytes.size());\n        return ERROR_MORE_DATA;',
     '        return ERROR_MORE_DATA;',
     'RegQueryValueExA: no size with ERROR_MORE_DATA'),
    ('platform/registry_posix.cc', 'return UnlessOutOfMemory<LONG>(call, ERROR_OUTOFMEMORY);',
     'return UnlessOutOfMemory<LONG>(call, ERROR_SUCCESS);',
     'running out of memory reads as success'),
    ('platform/hive_grammar_posix.h', "return c == ' ' || (c >= '\\t' && c <= '\\r');",
     "return c == ' ' || c == '\\t';",
     'VT, FF and CR are no white space'),
    ('platform/hive_grammar_posix.h', "if (stop > start && stop[-1] == '\\r') --stop;",
     '',
     'CR LF line ends keep their CR'),
    ('platform/hive_grammar_posix.cc', '0x0B, 0x0C, 0x0D, 0x1B};',
     '0x0B, 0x0C, 0x0D, 0x1A};',
     '\\e is another unit'),
    ('platform/hive_grammar_posix.cc', 'n < 4 && p + 1 + n < end',
     'n < 5 && p + 1 + n < end',
     '\\x takes five digits'),
    ('platform/hive_grammar_posix.cc', "n < 3 && p + n < end && p[n] >= '0'",
     "n < 2 && p + n < end && p[n] >= '0'",
     'octal escapes take two digits'),
    ('platform/hive_grammar_posix.cc',
     'if (static_cast<std::uint32_t>(byte) > 0xFF) return false;',
     'if (static_cast<std::uint32_t>(byte) > 0x1FF) return false;',
     'a hex byte over ff is read'),
    ('platform/hive_grammar_posix.cc',
     'if (static_cast<std::uint32_t>(byte) > 0xFF) return false;',
     'if (byte > 0xFF) return false;',
     'a hex byte is checked in 64 bits, not the 32 Wine keeps'),
    ('platform/hive_grammar_posix.cc', '*value = overflow ? UINT64_MAX : negative ? 0 - v : v;',
     '*value = negative ? 0 - (overflow ? UINT64_MAX : v) : overflow ? UINT64_MAX : v;',
     'a number out of range with a minus is 1'),
    ('platform/hive_grammar_posix.cc', "if (*p != '\\\\') return false;",
     "if (*p != '\\\\' || p + 1 != end) return false;",
     'only a backslash that ends the line continues a hex list'),
    ('platform/hive_grammar_posix.cc', 'if (cp < kSmallest[extra] || cp > 0x10FFFF) {',
     'if (cp > 0x10FFFF) {',
     'overlong UTF-8 is decoded'),
    ('platform/hive_grammar_posix.cc', 'cp = 0xFFFD;',
     "cp = '?';",
     'a lone surrogate converts to "?"'),
    ('platform/hive_grammar_posix.cc', "  if (p == end || *p != '=') return nullptr;\n  return SkipSpace(p + 1, end);",
     "  if (p == end || *p != '=') return nullptr;\n  return p + 1;",
     'no white space after a value name\'s "="'),
    ('platform/hive_grammar_posix.cc', 'StartsWith(p, end, "str:\\"")',
     'StartsWith(p, end, "str(1):\\"")',
     'str: is malformed'),
    ('platform/hive_grammar_posix.cc', '  if (!ok) {\n    parsed.type = REG_NONE;\n    parsed.data.clear();\n  }\n',
     '',
     'malformed data keeps what was read of it'),
    ('platform/hive_posix.cc', 'kMaxLinks = 32;',
     'kMaxLinks = 31;',
     'a chain of 32 links fails'),
    ('platform/hive_posix.cc', 'kMaxLinks = 32;',
     'kMaxLinks = 33;',
     'a chain of 33 links opens'),
    ('platform/hive_posix.cc', 'kMaxNameUnits = 256;',
     'kMaxNameUnits = 257;',
     'a key name of 257 units is kept'),
    ('platform/case_fold.h', '  return a.size() < b.size() ? -1 : 1;',
     '  return a.size() < b.size() ? 1 : -1;',
     'a name orders after its extensions'),
    ('platform/hive_posix.cc', 'if (tail != kNone && runs_[tail].last + 1 == first &&',
     'if (tail != kNone &&',
     'sections apart in the file wait as one run'),
    ('platform/hive_posix.cc', '      runs_[tail].rest == rest) {',
     '      true) {',
     "a rest that starts elsewhere is read from the run's start"),
    ('platform/hive_grammar_posix.cc', 'const bool overflow = p - significant > 16;',
     'const bool overflow = p - significant >= 16;',
     'sixteen hex digits overflow'),
    ('platform/hive_grammar_posix.cc', "  while (p < end && *p == '0') ++p;\n  const char* const significant",
     '  const char* const significant',
     'leading zeros make a number overflow'),
    ('platform/hive_grammar_posix.cc', 'buffer += buffer / 2;',
     'buffer += buffer / 2 + 1;',
     "Wine's line buffer grows by more than half"),
    ('platform/hive_grammar_posix.cc', 'std::min(buffer - 1 - held,',
     'std::min(buffer - held,',
     "a read takes a byte more than Wine's"),
    ('platform/hive_grammar_posix.cc', "if (nul > start && nul[-1] == '\\r') lines += '\\r';",
     '',
     'a CR before a NUL is dropped'),
    ('platform/hive_posix.cc', "if (std::memchr(text.data(), '\\0', text.size()) != nullptr) {",
     'if (false) {',
     'NUL bytes reach the reader'),
    ('platform/hive_posix.cc', 'return keys_[key].parent == parent && EqualFolded(Name(key), name);',
     'return EqualFolded(Name(key), name);',
     'a key below one parent is found below another'),
    ('platform/hive_posix.cc', '              return order < 0;',
     '              return false;',
     'subkeys come in file order'),
    ('platform/hive_grammar_posix.cc', 'if (q != line.end && (*q == \'[\' || *q == \'#\' || *q == \'"\' || *q == \'@\')) {',
     'if (q != line.end && (*q == \'#\' || *q == \'"\' || *q == \'@\')) {',
     'a broken hex list steps over the header after it'),
    ('platform/hive_grammar_posix.cc', "if (c == '\\\\' || c >= 0x80) break;",
     'if (c >= 0x80) break;',
     'an escaped value name is compared as its bytes'),
    ('platform/hive_grammar_posix.cc', 'if (i == name.size() || FoldCase(c) != FoldCase(name[i])) return nullptr;',
     'if (i == name.size() || c != name[i]) return nullptr;',
     'value names are case-sensitive'),
    ('platform/hive_grammar_posix.cc', 'return i == name.size() ? DataAfterName(q + 1, end) : nullptr;',
     'return DataAfterName(q + 1, end);',
     'a value name matches any name it starts'),
    ('platform/hive_posix.cc', "target[kRegistry.size()] != u'\\\\')",
     "target[kRegistry.size()] == u'\\\\')",
     'no link target is found'),
    ('platform/hive_posix.cc', 'if (EqualFolded(NextElement(target, &at), kMachine)) {',
     'if (NextElement(target, &at).size() || true) {',
     'a link outside the machine hive is followed into it'),
    ('platform/hive_posix.cc', "target[kRegistry.size() + 1] == u'\\\\')) {",
     'false)) {',
     'a doubled separator after \\Registry is passed over'),
    ('platform/hive_posix.cc', '  if (registry_ != kNone && keys_[registry_].link) return ERROR_FILE_NOT_FOUND;\n',
     '',
     'HKLM opens below a \\\\Registry made a link'),
    ('platform/hive_posix.cc', 'return keys_[kRoot].link ? FollowLink(kRoot, false, budget, machine)',
     'return false ? FollowLink(kRoot, false, budget, machine)',
     'HKLM made a link opens as itself'),
    ('platform/case_fold.cc', 'for (const FoldPair& pair : kPairs) table[pair.unit] = pair.lower;',
     '',
     'key and value names are case-sensitive'),
    ('platform/console_posix.cc', "    out[used++] = '\\r';\n",
     '',
     'lines end with LF alone'),
    ('platform/console_posix.cc', '!isatty(static_cast<int>(handle - 1))',
     'isatty(static_cast<int>(handle - 1))',
     'a terminal is taken for a pipe, and a pipe for a terminal'),
    ('platform/console_posix.cc', '    signal(SIGPIPE, SIG_IGN);\n',
     '',
     'a reader that went away kills the process'),
    ('platform/com_posix.cc', 'return com_initializations++ == 0 ? S_OK : S_FALSE;',
     'return S_OK;',
     'CoInitialize twice gives S_OK twice'),
    ('platform/hive_grammar_posix.cc', '        cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00u);\n        ++i;',
     '        cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00u);',
     'a surrogate pair is written with its low half again'),
    ('platform/hive_grammar_posix.cc', 'if (data == nullptr || !StartsWith(data, end, "hex")) return;',
     'if (data == nullptr || !StartsWith(data, end, "hex:")) return;',
     'a stepped-over hex(N) list does not eat its continuation'),
    ('platform/hive_grammar_posix.cc', "if (p < end && *p == ',') p = SkipSpace(p + 1, end);",
     "if (p < end && *p == ',') p = p + 1;",
     'no white space after a comma in a hex list'),
    ('platform/registry_posix.cc', 'const std::string bytes = IsStringType(value.type)',
     'const std::string bytes = false',
     'RegQueryValueExA: strings come back as UTF-16'),
    ('platform/hive_posix.cc', 'return close - p >= 1 && close - p <= std::ptrdiff_t{kMaxNameUnits} &&',
     'return close - p >= 1 && close - p <= 2 * std::ptrdiff_t{kMaxNameUnits} &&',
     'a section to be dropped opens one while it waits'),
    ('platform/hive_posix.cc', "         *p != '\\\\' && static_cast<unsigned char>(*p) < 0x80 &&",
     '         static_cast<unsigned char>(*p) < 0x80 &&',
     'a path led by a separator waits as it stands'),
    ('platform/hive_posix.cc', "         *p != '\\\\' && static_cast<unsigned char>(*p) < 0x80 &&",
     "         *p != '\\\\' &&",
     'a path led by bytes past ASCII waits as it stands'),
    ('platform/hive_posix.cc', '         close - header <= UINT16_MAX;',
     '         close - header <= 0x1FFFF;',
     'a path waits further into its header than its record reaches'),
    ('platform/hive_posix.cc', '  return MayContinue(start, line - 1);',
     '  return false;',
     'a header that a hex list takes opens a section'),
    ('platform/hive_posix.cc', "  while (open > p && open[-1] != '\\n') --open;\n",
     '',
     'a passed-over body ends inside a line'),
    ('platform/hive_posix.cc', '.find("#link") == std::string_view::npos) {',
     '.find("#link\\n") == std::string_view::npos) {',
     'a #linkXYZ line in a passed-over body makes no link'),
    ('platform/hive_posix.cc', '      if (!Loading()) continue;\n',
     '',
     'the lines after a dropped section are passed over, #arch among them'),
    ('platform/hive_posix.cc', 'if ((value != "win32" && value != "win64") ||',
     'if (false ||',
     'an unknown #arch does not stop loading'),
    ('platform/hive_posix.cc', '} else if (StartsWith(p, line.end, "#link")) {',
     '} else if (std::string_view(p, line.end - p) == "#link") {',
     '#linkXYZ makes no link where a body is read line by line'),
    ('platform/hive_posix.cc', '  while (loading_waits_) {',
     '  if (loading_waits_) {',
     'a link in a section that waits two keys deep is made above its key'),
    ('platform/hive_posix.cc', '      if (!keys_[key].expanded) {\n        Wait(',
     '      if (true) {\n        Wait(',
     'sections wait below keys already read into'),
    ('platform/hive_posix.cc', '    if (element.size() > kMaxNameUnits || !enter()) return false;',
     '    if (element.size() > kMaxNameUnits) return true;\n    if (!enter()) return false;',
     'a too-long element is passed over instead of dropping its section'),
    ('platform/hive_posix.cc', '      if (!enter()) break;\n      Attach(key, section);',
     '      Attach(key, section);',
     "a link key's section again stays on the link"),
    ('platform/hive_posix.cc', 'std::memcmp(other + rest, p, size) != 0 ||',
     'std::memcmp(other + rest, p, size - 2) != 0 ||',
     'a section whose element only starts the same waits with the run'),
    ('platform/hive_posix.cc', '              !MayWait(other + rest + size, other_close, other)) {',
     '              false) {',
     'a rest led by a separator waits in a run'),
    ('platform/hive_posix.cc', 'if (loading_ >= first && loading_ <= last) {',
     'if (loading_ == first) {',
     'a #link line in a section moved on in a run loses where it waits'),
    ('platform/hive_posix.cc', 'if (!waits || keys_[child].expanded) {',
     'if (!waits) {',
     'sections wait below a key already read into'),
    ('platform/hive_posix.cc', '          if (child == kNone || first != element) {',
     '          if (child == kNone) {',
     'every section of a run goes below the first child'),
    ('platform/hive_posix.cc', 'std::size_t slot = HashName(keys_[index].parent, Name(index)) & mask;',
     'std::size_t slot = HashName(kRoot, Name(index)) & mask;',
     'keys are lost when the table grows'),
    ('platform/hive_posix.cc', '  if (table_[slot] != kNone) return table_[slot];\n',
     '',
     'a key is made again for each section that names it'),
    ('platform/hive_posix.cc', '    } else {\n      StepOverValue(p, end, more);\n    }\n  });\n  return found;',
     '    }\n  });\n  return found;',
     "a hex list's continuation lines are read as values"),
    ('platform/hive_posix.cc', "    if (*p == '#') {\n      visit(p, end);\n    } else {\n      StepOverValue(p, end, more);\n    }",
     "    if (*p == '#') {\n      visit(p, end);\n    }",
     'a #time line that a hex list takes is read'),
    # Behaviours that only the recorded hives of them and one file test hold.
    ('platform/hive_grammar_posix.cc', "    if (*p != '\\\\') return false;\n    Line line;",
     "    if (*p != '\\\\' || SkipSpace(p + 1, end) != end) return false;\n    Line line;",
     "text after a hex list's backslash breaks the list"),
    ('platform/hive_grammar_posix.h',
     "  return std::memchr(begin, '\\\\', static_cast<std::size_t>(end - begin)) !=\n         nullptr;",
     "  return end > begin && end[-1] == '\\\\';",
     'a list may go on only from a line that ends in its backslash'),
    ('platform/hive_posix.cc', '    const bool make = create && next.empty();',
     '    const bool make = false;',
     "a link's missing target is not made"),
    ('platform/hive_posix.cc', '    if (keys_[key].link && (follow_last || !next.empty())) {',
     '    if (keys_[key].link && follow_last) {',
     'a link on the way to the last element is not followed'),
    ('platform/hive_grammar_posix.cc', '    if (!MayContinue(line.begin, line.end)) return;',
     '    return;',
     'a stepped-over list ends at its first continuation line'),
    ('platform/hive_grammar_posix.cc', "(*q == '[' || *q == '#' || *q == '\"' || *q == '@')",
     "(*q == '[' || *q == '\"' || *q == '@')",
     'a #link line after a continued list is eaten'),
    ('platform/hive_posix.cc', 'FollowLink(key, make, budget, &key);',
     'FollowLink(key, false, budget, &key);',
     'the missing target at the end of a chain of links is not made'),
    ('platform/hive_posix.cc', '    if (keys_[key].link && (follow_last || !next.empty())) {',
     '    if (keys_[key].link && !make && (follow_last || !next.empty())) {',
     "a section through a link to a link writes on the middle link"),
    ('platform/hive_posix.cc', 'if (element.size() > kMaxNameUnits) return ERROR_INVALID_PARAMETER;',
     'if (element.size() >= kMaxNameUnits) return ERROR_INVALID_PARAMETER;',
     "a link target's 256-unit last element is refused"),
    ('platform/hive_posix.cc', '(!arch.empty() && value != arch)',
     'false',
     'a changed #arch goes on loading'),
    ('platform/hive_grammar_posix.cc', "if (separator != nullptr && out->back() == u'\\\\') {",
     "if (separator != nullptr && e == '\\\\') {",
     'an escaped \\x5c in a path is part of its element'),
    ('platform/hive_grammar_posix.cc', 'return data != nullptr && EqualFolded(decoded, name) ? data : nullptr;',
     'return data != nullptr && decoded == name ? data : nullptr;',
     'an escaped value name is matched with regard to case'),
    ('platform/console_posix.cc', "    if (buffer[i] == '\\n') {",
     "    if (buffer[i] == '\\n' && (i == 0 || buffer[i - 1] != '\\r')) {",
     'a name ending in CR loses the CR of its line end'),
    ('platform/hive_bytes_posix.cc', '    if (n == 0) break;',
     '    if (n == 0 || read.size_ > static_cast<std::size_t>(info.st_size)) break;',
     'a file is read only as far as its size said'),
]

# Faults that change no behaviour, with the reason.
EQUIVALENT = [
    ('platform/hive_posix.cc', '  std::sort(subkeys.begin()',
     '  std::stable_sort(subkeys.begin()',
     'names equal under the fold are one key, so siblings never tie'),
    ('app/main.cc', '!= ERROR_SUCCESS ||\n      root == nullptr)', '!= ERROR_SUCCESS)',
     'a successful open always gives a handle'),
    ('platform/hive_posix.cc', 'if (other_close - (other + rest) <= std::ptrdiff_t(size) ||',
     'if (other_close - (other + rest) < std::ptrdiff_t(size) ||',
     'MayWait refuses a rest that is only the separator; the test keeps memcmp before the bracket'),
]


def run(command, cwd, quiet=True):
    return subprocess.run(command, cwd=cwd, stdout=subprocess.DEVNULL if quiet else None,
                          stderr=subprocess.STDOUT if quiet else None).returncode


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--only', default='')
    parser.add_argument('--equivalent', action='store_true',
                        help='run the equivalent list instead, to check it')
    args = parser.parse_args()
    top = subprocess.run(['git', 'rev-parse', '--show-toplevel'], check=True,
                         capture_output=True, text=True).stdout.strip()
    scratch = tempfile.mkdtemp(prefix='lsinstalled-mutation.')
    files = subprocess.run(['git', 'ls-files', '-z'], cwd=top, check=True,
                           capture_output=True).stdout.split(b'\0')
    for name in filter(None, files):
        source = os.path.join(top, name.decode())
        target = os.path.join(scratch, 'src', name.decode())
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy2(source, target)
    src = os.path.join(scratch, 'src')
    build = os.path.join(scratch, 'build')
    # A mutant that makes a test loop forever is caught by the test's time
    # limit: a minute, twelve times what the slowest test takes here.
    configure = ['cmake', '-S', src, '-B', build, '-G', 'Ninja',
                 '-DCMAKE_BUILD_TYPE=Debug', '-DLSINSTALLED_TEST_TIMEOUT=60']
    # Each mutant's file is compiled twice, mutated and then restored for
    # the next one: with ccache the second is a lookup.
    if shutil.which('ccache'):
        os.environ['CCACHE_DIR'] = os.path.join(scratch, 'ccache')
        configure.append('-DCMAKE_CXX_COMPILER_LAUNCHER=ccache')
    if run(configure, top) or run(['cmake', '--build', build], top):
        sys.exit('mutation: the unmutated tree does not build')
    ctest = ['ctest', '--test-dir', build, '-j2', '--stop-on-failure']
    if run(ctest, build):
        sys.exit('mutation: the unmutated tree fails its tests')

    mutants = EQUIVALENT if args.equivalent else MUTANTS
    killed = survived = 0
    started = time.time()
    for path, before, after, what in mutants:
        if args.only not in what and args.only not in path:
            continue
        file = os.path.join(src, path)
        with open(file) as f:
            text = f.read()
        if text.count(before) != 1:
            sys.exit('mutation: %r stands %d times in %s' % (before, text.count(before), path))
        with open(file, 'w') as f:
            f.write(text.replace(before, after))
        try:
            if run(['cmake', '--build', build], top):
                sys.exit('mutation: does not build: %s: %s' % (path, what))
            caught = run(ctest, build) != 0
        finally:
            with open(file, 'w') as f:
                f.write(text)
        killed += caught
        survived += not caught
        print('%-8s %s: %s' % ('killed' if caught else 'SURVIVED', path, what), flush=True)
    run(['cmake', '--build', build], top)
    shutil.rmtree(scratch, ignore_errors=True)
    if args.equivalent:
        print('%d equivalent mutants: %d survived, %d killed' % (killed + survived, survived, killed))
        sys.exit(1 if killed else 0)
    print('mutation score: %d killed / %d applicable, %d survived, %d equivalent '
          'listed, %.0f s' % (killed, killed + survived, survived, len(EQUIVALENT),
                              time.time() - started))
    sys.exit(1 if survived else 0)


if __name__ == '__main__':
    main()
