"""The MQL side of the library kept in step with its exports.

MQL cannot be compiled here, so this reads the files as text: each include file's #import block
against the export list (cmake/K5Exports.cmake) and the prototypes (src/exports/k5_mkview.h), and
each sample program's includes and calls against the import block. The mutation tables show that
each kind of drift is caught.
"""

import dataclasses
import pathlib
import re
import shutil
import tempfile
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
EXPORTS_CMAKE = ROOT / "cmake" / "K5Exports.cmake"
HEADER = ROOT / "src" / "exports" / "k5_mkview.h"
MQL_ROOT = ROOT / "mql"
MODULE = "k5-mkview.dll"
INCLUDE_NAME = "k5-mkview.mqh"
DIALECTS = {"MQL4": ".mq4", "MQL5": ".mq5"}

# How an argument crosses the boundary, in the words of the MQL declaration.
INT = "int"
DOUBLE = "double"
TEXT_IN = "string"
TEXT_OUT = "string &"
DOUBLE_ARRAY = "double &[]"

# Bytes each kind takes on the 32-bit stdcall stack (the @N of the export list).
STACK_BYTES = {INT: 4, DOUBLE: 8, TEXT_IN: 4, TEXT_OUT: 4, DOUBLE_ARRAY: 4}


@dataclasses.dataclass(frozen=True)
class Prototype:
    result: str  # "void" or "int"
    name: str
    args: tuple  # ((kind, name), ...)

    def describe(self):
        def arg(kind, name):
            if kind is None:
                return f"(unreadable) {name}"
            if kind == DOUBLE_ARRAY:
                return f"double &{name}[]"
            return f"{kind}{'' if kind == TEXT_OUT else ' '}{name}"
        return f"{self.result} {self.name}({', '.join(arg(k, n) for k, n in self.args)})"


def strip_comments_and_literals(text, keep_literals=False):
    """The code without comments; string and character literals become "" and '' unless
    keep_literals."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            while i < n and text[i] != "\n":
                i += 1
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            i = n if end < 0 else end + 2
            out.append(" ")
        elif c in "\"'":
            start = i
            i += 1
            while i < n and text[i] != c and text[i] != "\n":
                i += 2 if text[i] == "\\" else 1
            i += 1
            out.append(text[start:i] if keep_literals else c + c)
        else:
            out.append(c)
            i += 1
    return "".join(out)


# --- The library's side ---------------------------------------------------------------------------


def parse_export_list(cmake_text):
    """[(name, stack bytes)] in ordinal order."""
    match = re.search(r"set\(K5_EXPORTS\s+([^)]*)\)", cmake_text)
    if not match:
        raise ValueError("no set(K5_EXPORTS ...) in the export list")
    exports = []
    for entry in match.group(1).split():
        name, _, size = entry.partition(":")
        exports.append((name, int(size)))
    if not exports:
        raise ValueError("the export list is empty")
    return exports


HEADER_ARG_KINDS = {
    ("", "int", ""): INT,
    ("", "double", ""): DOUBLE,
    ("const", "char16_t", "*"): TEXT_IN,
    ("", "char16_t", "*"): TEXT_OUT,
    ("", "double", "*"): DOUBLE_ARRAY,
}


def parse_header(header_text):
    """[Prototype] in declaration order, from the K5_EXPORT declarations."""
    code = strip_comments_and_literals(header_text)
    prototypes = []
    pattern = r"K5_EXPORT\s+(\w+)\s+K5_CALL\s+(\w+)\s*\(([^)]*)\)\s*;"
    for result, name, arg_text in re.findall(pattern, code):
        args = []
        for arg in arg_text.split(","):
            m = re.fullmatch(r"\s*(const\s+)?(\w+)\s*(\*?)\s*(\w+)\s*", arg)
            key = ((m.group(1) or "").strip(), m.group(2), m.group(3)) if m else None
            if key not in HEADER_ARG_KINDS:
                raise ValueError(f"{name}: argument '{arg.strip()}' has no MQL counterpart")
            args.append((HEADER_ARG_KINDS[key], m.group(4)))
        prototypes.append(Prototype(result, name, tuple(args)))
    if not prototypes:
        raise ValueError("no K5_EXPORT declarations in the header")
    return prototypes


# --- The MQL side ---------------------------------------------------------------------------------


def import_blocks(code):
    """[(module, body, start, end)] of the #import "module" ... #import blocks in `code`."""
    blocks = []
    for m in re.finditer(r'#import\s+"([^"]*)"(.*?)#import\b', code, re.S):
        blocks.append((m.group(1), m.group(2), m.start(), m.end()))
    return blocks


def mql_arg_kind(arg):
    m = re.fullmatch(r"\s*(const\s+)?(\w+)\s*(&)?\s*(\w+)\s*(\[\s*\])?\s*", arg)
    if not m:
        return None, arg.strip()
    const, base, ref, name, array = m.groups()
    if base == "int" and not ref and not array:
        return INT, name
    if base == "double" and not ref and not array:
        return DOUBLE, name
    if base == "string" and not ref and not array:
        return TEXT_IN, name
    if base == "string" and ref and not array and not const:
        return TEXT_OUT, name
    if base == "double" and ref and array and not const:
        return DOUBLE_ARRAY, name
    return None, name


def parse_imports(mqh_text):
    """([Prototype] of the library's #import block, [problem])."""
    code = strip_comments_and_literals(mqh_text, keep_literals=True)
    blocks = [b for b in import_blocks(code) if b[0] == MODULE]
    if len(blocks) != 1:
        return [], [f'expected one #import "{MODULE}" block, found {len(blocks)}']
    prototypes, problems = [], []
    for decl in blocks[0][1].split(";"):
        if not decl.strip():
            continue
        m = re.fullmatch(r"\s*(\w+)\s+(\w+)\s*\((.*)\)\s*", decl, re.S)
        if not m:
            problems.append(f"cannot read the declaration '{' '.join(decl.split())}'")
            continue
        result, name, arg_text = m.groups()
        args = []
        for arg in arg_text.split(",") if arg_text.strip() else []:
            kind, arg_name = mql_arg_kind(arg)
            if kind is None:
                problems.append(f"{name}: argument '{' '.join(arg.split())}' is not one of "
                                f"int, double, string, string &, double &name[]")
            args.append((kind, arg_name))
        prototypes.append(Prototype(result, name, tuple(args)))
    return prototypes, problems


def check_imports(mqh_text, cmake_text, header_text):
    """Every way the include's import block differs from the export list and the header."""
    problems = []
    exports = parse_export_list(cmake_text)
    header = parse_header(header_text)
    export_names = [name for name, _ in exports]
    header_by_name = {p.name: p for p in header}

    header_names = [p.name for p in header]
    if header_names != export_names:
        problems.append(f"header declares {header_names}, export list is {export_names}")
    for name, size in exports:
        proto = header_by_name.get(name)
        if proto is None:
            continue
        stack = sum(STACK_BYTES[kind] for kind, _ in proto.args)
        if stack != size:
            problems.append(f"{name}: export list says {size} bytes of arguments, header {stack}")

    imports, read_problems = parse_imports(mqh_text)
    problems += read_problems
    import_names = [p.name for p in imports]
    for name in export_names:
        if name not in import_names:
            problems.append(f"{name}: not imported")
    for name in import_names:
        if name not in export_names:
            problems.append(f"{name}: imported but not exported")
        elif import_names.count(name) > 1:
            problems.append(f"{name}: imported {import_names.count(name)} times")
    if set(import_names) == set(export_names) and import_names != export_names:
        problems.append(f"imports are in the order {import_names}, exports in {export_names}")

    for proto in imports:
        expected = header_by_name.get(proto.name)
        if expected is None:
            continue
        if proto.result != expected.result:
            problems.append(f"{proto.name}: returns {proto.result}, the export {expected.result}")
        if [k for k, _ in proto.args] != [k for k, _ in expected.args]:
            problems.append(f"{proto.name}: imported as {proto.describe()}, "
                            f"exported as {expected.describe()}")
        elif [n for _, n in proto.args] != [n for _, n in expected.args]:
            problems.append(f"{proto.name}: argument names {[n for _, n in proto.args]}, "
                            f"header {[n for _, n in expected.args]}")
    return problems


# --- Sample programs ------------------------------------------------------------------------------

KEYWORDS = {"if", "for", "while", "switch", "return", "sizeof", "delete", "new"}

# The platform functions the include and the samples may call, checked against the MQL4 and MQL5
# references. A call of anything else (a misspelt import, a function of the other dialect) fails.
BUILTINS_COMMON = {
    "AccountInfoString", "Alert", "ArrayResize", "ChartRedraw", "ChartSetInteger",
    "DoubleToString", "EventKillTimer", "EventSetTimer", "IntegerToString", "MathAbs", "MathMax",
    "MathRound", "ObjectCreate", "ObjectDelete", "ObjectFind", "ObjectSetInteger",
    "ObjectSetString", "ObjectsDeleteAll", "PeriodSeconds", "Print", "StringFind",
    "StringGetCharacter", "StringInit", "StringLen", "StringSubstr", "TimeGMT", "iTime",
    "TimeCurrent", "MQLInfoInteger",
}
BUILTINS = {
    "MQL4": BUILTINS_COMMON | {"IsDllsAllowed"},
    "MQL5": BUILTINS_COMMON | {"TimeTradeServer"},
}
TYPES = {"void", "int", "bool", "double", "string", "datetime", "color", "long", "ushort", "uint"}


def include_problems(dialect, program_text):
    """The program must include the dialect's k5-mkview.mqh by the include path."""
    includes = re.findall(r'^\s*#include\s+([<"])([^>"]+)[>"]', program_text, re.M)
    if ("<", INCLUDE_NAME) not in includes:
        return [f"does not #include <{INCLUDE_NAME}> (includes: {includes})"]
    if not (MQL_ROOT / dialect / "Include" / INCLUDE_NAME).is_file():
        return [f"includes <{INCLUDE_NAME}>, which is missing from mql/{dialect}/Include"]
    return []


def without_import_blocks(code):
    for _, _, start, end in reversed(import_blocks(code)):
        code = code[:start] + code[end:]
    return "\n".join(line for line in code.splitlines() if not line.lstrip().startswith("#"))


def call_arguments(code, open_paren):
    """The number of top-level arguments of the call whose "(" is at open_paren."""
    depth, count, empty = 0, 1, True
    for c in code[open_paren:]:
        if c in "([":
            depth += 1
        elif c in ")]":
            depth -= 1
            if depth == 0:
                return 0 if empty else count
        elif c == "," and depth == 1:
            count += 1
        elif not c.isspace() and depth >= 1:
            empty = False
    return None


def call_problems(dialect, texts, imports):
    """Calls in `texts` (the program and its include) of functions that are neither imported,
    defined there, nor platform functions of `dialect`, and imported functions called with the
    wrong number of arguments."""
    code = "\n".join(without_import_blocks(strip_comments_and_literals(t, keep_literals=True))
                     for t in texts)
    code = strip_comments_and_literals(code)
    types = set(TYPES) | set(re.findall(r"\b(?:class|enum)\s+(\w+)", code))
    types |= set(re.findall(r"\b(ENUM_\w+)", code))
    defined = set(types)
    # Function definitions and prototypes, methods, and objects built with arguments.
    for first, second in re.findall(r"\b(\w+)\s*&?\s+(\w+)\s*\(", code):
        if first in types:
            defined.add(second)
    defined |= set(re.findall(r"::\s*~?(\w+)\s*\(", code))
    imported = {p.name: len(p.args) for p in imports}
    problems = []
    for m in re.finditer(r"(?<![\w.:~])([A-Za-z_]\w*)\s*\(", code):
        name = m.group(1)
        if name in imported:
            got = call_arguments(code, m.end() - 1)
            if got != imported[name]:
                problems.append(f"{name} called with {got} arguments, imported with "
                                f"{imported[name]}")
        elif name not in defined and name not in KEYWORDS and name not in BUILTINS[dialect]:
            problems.append(f"calls {name}, which is neither imported, defined nor a {dialect} "
                            f"function")
    return sorted(set(problems))


def bracket_problems(text):
    """Brackets that do not pair up, outside comments and literals."""
    pairs = {")": "(", "]": "[", "}": "{"}
    stack = []
    for line_number, line in enumerate(strip_comments_and_literals(text).splitlines(), 1):
        for c in line:
            if c in "([{":
                stack.append((c, line_number))
            elif c in pairs:
                if not stack:
                    return [f"line {line_number}: '{c}' closes nothing"]
                if stack[-1][0] != pairs[c]:
                    return [f"line {line_number}: '{c}' does not match '{stack[-1][0]}' of line "
                            f"{stack[-1][1]}"]
                stack.pop()
    return [f"line {n}: '{c}' is never closed" for c, n in stack[-1:]]


def check_tree(root, cmake_text, header_text):
    """{relative path: [problem]} for every file of the mql tree under `root` with problems."""
    found = {}
    programs = 0
    for dialect, suffix in DIALECTS.items():
        include = root / dialect / "Include" / INCLUDE_NAME
        if not include.is_file():
            found[f"{dialect}/Include/{INCLUDE_NAME}"] = ["missing"]
            continue
        include_text = include.read_text(encoding="utf-8")
        problems = check_imports(include_text, cmake_text, header_text)
        problems += bracket_problems(include_text)
        imports, _ = parse_imports(include_text)
        problems += call_problems(dialect, [include_text], imports)
        if problems:
            found[f"{dialect}/Include/{INCLUDE_NAME}"] = problems
        for path in sorted((root / dialect).rglob("*.mq[45]")):
            programs += 1
            rel = str(path.relative_to(root))
            if path.suffix != suffix:
                found[rel] = [f"a {path.suffix} program in the {dialect} tree"]
                continue
            text = path.read_text(encoding="utf-8")
            problems = include_problems(dialect, text)
            problems += bracket_problems(text)
            problems += call_problems(dialect, [text, include_text], imports)
            if problems:
                found[rel] = problems
    if programs == 0:
        found["mql"] = ["no .mq4 or .mq5 programs found"]
    return found


# --- Tests ----------------------------------------------------------------------------------------


def read(path):
    return path.read_text(encoding="utf-8")


def mutate(test, text, old, new):
    """text with the first `old` replaced; fails the test if `old` is not there, so that a row
    whose mutation no longer applies cannot pass unnoticed."""
    test.assertIn(old, text, "the mutation no longer applies")
    return text.replace(old, new, 1)


class RealFilesTest(unittest.TestCase):
    def test_the_mql_tree_agrees_with_the_exports(self):
        self.assertEqual({}, check_tree(MQL_ROOT, read(EXPORTS_CMAKE), read(HEADER)))


# A mutation: (what it does, the text to replace, its replacement, a word the report must hold).
IMPORT_MUTATIONS = [
    ("renamed import", "int  OrderBook_Sz(", "int  OrderBookSz(", "OrderBook_Sz: not imported"),
    ("string where string & belongs", "PositionBook(string instrument, int mt4Time, string &err)",
     "PositionBook(string instrument, int mt4Time, string err)", "PositionBook: imported as"),
    ("string & where string belongs", "InitCreds(string server", "InitCreds(string &server",
     "InitCreds: imported as"),
    ("const string &", "void OrderBook_Free(int refnum, string &err)",
     "void OrderBook_Free(int refnum, const string &err)",
     "OrderBook_Free: argument 'const string &err'"),
    ("missing argument", "double &prices[], int arrSz, string &err);\nvoid PositionBook_BookData",
     "double &prices[], string &err);\nvoid PositionBook_BookData",
     "OrderBook_BookData: imported as"),
    ("extra argument", "InitTimeZoneInfo(int gmtServerOffset, string &err)",
     "InitTimeZoneInfo(int gmtServerOffset, int dst, string &err)",
     "InitTimeZoneInfo: imported as"),
    ("arguments swapped", "int  OrderBook(string instrument, int mt4Time,",
     "int  OrderBook(int mt4Time, string instrument,", "OrderBook: imported as"),
    ("array without &", "double &shortCounts[]", "double shortCounts[]",
     "argument 'double shortCounts[]'"),
    ("array as a scalar", "double &bucketWidth[]", "double &bucketWidth",
     "argument 'double &bucketWidth'"),
    ("int where double belongs", "double open,", "int open,", "InitCreds: imported as"),
    ("double where int belongs", "int magic,", "double magic,", "InitCreds: imported as"),
    ("wrong result", "int  PositionBook_Sz(", "void PositionBook_Sz(",
     "PositionBook_Sz: returns void"),
    ("renamed argument", "int  PositionBook(string instrument, int mt4Time",
     "int  PositionBook(string instrument, int barTime", "PositionBook: argument names"),
    ("declaration dropped", "void PositionBook_Free(int refnum, string &err);\n", "",
     "PositionBook_Free: not imported"),
    ("declarations swapped",
     "int  OrderBook_Sz(int refnum, string &err);\nint  PositionBook_Sz(int refnum, string &err);",
     "int  PositionBook_Sz(int refnum, string &err);\nint  OrderBook_Sz(int refnum, string &err);",
     "imports are in the order"),
    ("declaration twice", "void InitTimeZoneInfo(int gmtServerOffset, string &err);\n",
     "void InitTimeZoneInfo(int gmtServerOffset, string &err);\n"
     "void InitTimeZoneInfo(int gmtServerOffset, string &err);\n",
     "InitTimeZoneInfo: imported 2 times"),
    ("other module", f'#import "{MODULE}"', '#import "k5_mkview.dll"', "block, found 0"),
    ("default value", "int arrSz, string &err);\nvoid PositionBook_BookData",
     "int arrSz = 0, string &err);\nvoid PositionBook_BookData",
     "argument 'int arrSz = 0'"),
]

# Mutations of the library's side, with the include as it is.
LIBRARY_MUTATIONS = [
    ("export renamed", "cmake", "  OrderBook_Sz:8", "  OrderBook_Size:8",
     "OrderBook_Size: not imported"),
    ("exports reordered", "cmake", "  OrderBook:12\n  PositionBook:12",
     "  PositionBook:12\n  OrderBook:12", "imports are in the order"),
    ("stack size off", "cmake", "InitCreds:24", "InitCreds:20",
     "InitCreds: export list says 20 bytes"),
    ("header text in becomes out", "header", "OrderBook(const char16_t* instrument",
     "OrderBook(char16_t* instrument", "OrderBook: imported as"),
    ("header array becomes a value", "header", "double* bucketWidth, double* price, int arrSz,",
     "double* bucketWidth, double price, int arrSz,",
     "OrderBook_MetaData: imported as"),
    ("header argument renamed", "header", "int K5_CALL OrderBook_Sz(int refnum",
     "int K5_CALL OrderBook_Sz(int handle", "OrderBook_Sz: argument names"),
]

# Mutations of a sample program (dialect-independent text).
PROGRAM_MUTATIONS = [
    ("misspelt import call", "Scripts/k5-check", "OrderBook_Sz(0, err)", "OrderBook_Size(0, err)",
     "OrderBook_Size"),
    ("import called without err", "Scripts/k5-check", "OrderBook_Sz(0, err)", "OrderBook_Sz(0)",
     "OrderBook_Sz called with 1"),
    ("misspelt platform call", "Indicators/k5-book-histogram", "EventSetTimer(1)",
     "EventSetTime(1)", "EventSetTime"),
    ("include misspelt", "Indicators/k5-book-histogram", "#include <k5-mkview.mqh>",
     "#include <k5_mkview.mqh>", "#include"),
    ("include dropped", "Scripts/k5-check", "#include <k5-mkview.mqh>", "", "#include"),
    ("include by local path", "Scripts/k5-check", "#include <k5-mkview.mqh>",
     '#include "k5-mkview.mqh"', "#include"),
    ("brace dropped", "Indicators/k5-book-histogram", "      g_initialised = true;\n     }",
     "      g_initialised = true;\n", "never closed"),
    ("parenthesis dropped", "Scripts/k5-check", "if(!K5DllsAllowed())", "if(!K5DllsAllowed()",
     "does not match"),
]

# Mutations of the include's own code, outside the import block.
INCLUDE_CODE_MUTATIONS = [
    ("misspelt import call in the class", "MQL4", "OrderBook_BookData(m_handle",
     "OrderBook_Bookdata(m_handle", "OrderBook_Bookdata"),
    ("metadata call missing an argument", "MQL5", "OrderBook_MetaData(m_handle, width, price, 1,",
     "OrderBook_MetaData(m_handle, width, price,", "OrderBook_MetaData called with 6"),
    ("MQL4 DLL check in MQL5", "MQL5", "MQLInfoInteger(MQL_DLLS_ALLOWED) != 0", "IsDllsAllowed()",
     "IsDllsAllowed"),
    ("MQL5 server clock in MQL4", "MQL4", "TimeCurrent()", "TimeTradeServer()", "TimeTradeServer"),
]


class ImportMutationTest(unittest.TestCase):
    def test_each_drift_of_an_import_block_is_reported(self):
        cmake, header = read(EXPORTS_CMAKE), read(HEADER)
        for dialect in DIALECTS:
            original = read(MQL_ROOT / dialect / "Include" / INCLUDE_NAME)
            for what, old, new, word in IMPORT_MUTATIONS:
                with self.subTest(dialect=dialect, mutation=what):
                    problems = check_imports(mutate(self, original, old, new), cmake, header)
                    self.assertTrue(any(word in p for p in problems), problems)

    def test_each_drift_of_the_library_side_is_reported(self):
        sources = {"cmake": read(EXPORTS_CMAKE), "header": read(HEADER)}
        include = read(MQL_ROOT / "MQL4" / "Include" / INCLUDE_NAME)
        for what, which, old, new, word in LIBRARY_MUTATIONS:
            with self.subTest(mutation=what):
                texts = dict(sources)
                texts[which] = mutate(self, texts[which], old, new)
                problems = check_imports(include, texts["cmake"], texts["header"])
                self.assertTrue(any(word in p for p in problems), problems)

    def test_a_header_argument_without_mql_counterpart_is_refused(self):
        header = mutate(self, read(HEADER), "int K5_CALL OrderBook_Sz(int refnum",
                        "int K5_CALL OrderBook_Sz(long refnum")
        with self.assertRaisesRegex(ValueError, "OrderBook_Sz"):
            parse_header(header)


class ProgramMutationTest(unittest.TestCase):
    def test_each_fault_of_a_sample_program_is_reported(self):
        for dialect, suffix in DIALECTS.items():
            include = read(MQL_ROOT / dialect / "Include" / INCLUDE_NAME)
            imports, _ = parse_imports(include)
            for what, stem, old, new, word in PROGRAM_MUTATIONS:
                with self.subTest(dialect=dialect, mutation=what):
                    program = mutate(self, read(MQL_ROOT / dialect / (stem + suffix)), old, new)
                    problems = include_problems(dialect, program)
                    problems += bracket_problems(program)
                    problems += call_problems(dialect, [program, include], imports)
                    self.assertTrue(any(word in p for p in problems), problems)

    def test_each_fault_of_the_include_code_is_reported(self):
        for what, dialect, old, new, word in INCLUDE_CODE_MUTATIONS:
            with self.subTest(mutation=what):
                include = read(MQL_ROOT / dialect / "Include" / INCLUDE_NAME)
                mutated = mutate(self, include, old, new)
                imports, _ = parse_imports(mutated)
                problems = call_problems(dialect, [mutated], imports)
                self.assertTrue(any(word in p for p in problems), problems)

    def test_a_program_in_the_wrong_tree_is_reported(self):
        with tempfile.TemporaryDirectory() as tmp:
            copy = pathlib.Path(tmp) / "mql"
            shutil.copytree(MQL_ROOT, copy)
            shutil.copy(copy / "MQL5" / "Scripts" / "k5-check.mq5", copy / "MQL4" / "Scripts")
            found = check_tree(copy, read(EXPORTS_CMAKE), read(HEADER))
            self.assertEqual(["MQL4/Scripts/k5-check.mq5"], list(found))


if __name__ == "__main__":
    unittest.main()
