"""The bindings against the headers, the status table, and where libraries are found
(no library is loaded here)."""
import ctypes
import re

import pytest

from conftest import REPO
from daqboards import _library, dremor, errors, korvel

C_TYPES = {"unsigned short": ctypes.c_uint16, "unsigned char": ctypes.c_uint8, "uint32_t": ctypes.c_uint32,
           "float": ctypes.c_float, "short": ctypes.c_short, "int": ctypes.c_int, "void": None}


def c_type(declaration):
    """The ctypes type of a C parameter or return type (the name dropped)."""
    text = " ".join(declaration.replace("const ", "").split())
    pointer = "*" in text
    text = text.replace("*", " ").strip()
    words = text.split()
    if len(words) > 1 and " ".join(words) not in C_TYPES:
        words = words[:-1]  # the parameter name
    base = C_TYPES[" ".join(words)]
    if pointer:
        return ctypes.c_void_p if base is None else ctypes.POINTER(base)
    return base


def header_prototypes(header, prefix):
    text = re.sub(r"/\*.*?\*/", "", (REPO / header).read_text(), flags=re.S)
    found = {}
    for ret, name, args in re.findall(rf"^{prefix}_API\s+([\w ]+?)\s+{prefix}_CALL\s+(\w+)\s*\((.*?)\);",
                                      text, re.S | re.M):
        params = [] if args.strip() == "void" else [c_type(a) for a in args.split(",")]
        found[name] = (c_type(ret), params)
    return found


@pytest.mark.parametrize("module, header, prefix", [
    (korvel, "korvel/korvel.h", "KORVEL"),
    (dremor, "dremor/dremor.h", "DREMOR"),
])
def test_every_export_has_the_headers_signature(module, header, prefix):
    expected = header_prototypes(header, prefix)
    assert len(expected) >= 13
    actual = {name: (restype, list(argtypes)) for name, (restype, argtypes) in module.SIGNATURES.items()}
    assert actual == expected


@pytest.mark.parametrize("library, header, prefix", [
    ("Korvel", "korvel/korvel.h", "KORVEL_ERR"),
    ("Dremor", "dremor/dremor.h", "DREMOR_ERR"),
])
def test_every_status_of_the_header_has_its_own_exception(library, header, prefix):
    statuses = [int(n) for n in re.findall(rf"#define {prefix}_\w+ (\d+)", (REPO / header).read_text())]
    assert len(statuses) >= 4
    classes = [type(errors.error_for(library, s)) for s in statuses]
    assert errors.DaqError not in classes
    assert len(set(classes)) == len(classes)
    for status in statuses:
        e = errors.error_for(library, status, "SOME_Function")
        assert e.status == status and e.library == library and not e.text.startswith("unexpected")
        assert str(e).startswith(f"SOME_Function: status {status}: ")


def test_a_status_no_header_lists_is_a_plain_daq_error():
    e = errors.error_for("Dremor", 42, "VARNO_Polling")
    assert type(e) is errors.DaqError and e.status == 42 and "42" in str(e)
    with pytest.raises(errors.AdTimeout):
        errors.check("Dremor", "VARNO_Polling", 5)
    errors.check("Dremor", "VARNO_Polling", 0)


@pytest.mark.parametrize("argument, env, expected", [
    ("/x/mine.so", {"KORVEL_LIBRARY": "/y/k.so", "DAQ_LIBRARY_DIR": "/z"}, ["/x/mine.so"]),
    (None, {"KORVEL_LIBRARY": "/y/k.so", "DAQ_LIBRARY_DIR": "/z"}, ["/y/k.so"]),
    (None, {"DREMOR_LIBRARY": "/y/d.so", "DAQ_LIBRARY_DIR": "/z"}, ["/z/libKorvel.so"]),
])
def test_the_library_is_looked_for_in_order(argument, env, expected):
    assert _library.candidates("Korvel", argument, env)[1] == expected


def test_the_system_search_ends_with_the_versioned_and_plain_names():
    how, names = _library.candidates("Korvel", None, {})
    assert how == "the system's search"
    assert names[-2:] == ["libKorvel.so.0", "libKorvel.so"]


class FakeLibrary:
    def __init__(self, exports):
        for name in exports:
            setattr(self, name, type("F", (), {})())


def test_loading_tries_each_candidate_and_binds_every_function(monkeypatch):
    monkeypatch.setenv("DAQ_LIBRARY_DIR", "/nowhere")
    tried = []

    def loader(path):
        tried.append(path)
        return FakeLibrary(["Ping"])

    lib = _library.load("Probe1", {"Ping": (ctypes.c_uint16, [ctypes.c_uint8])}, loader=loader)
    assert tried == ["/nowhere/libProbe1.so"]
    assert lib.Ping.restype is ctypes.c_uint16 and lib.Ping.argtypes == [ctypes.c_uint8]
    # Loaded once per process.
    assert _library.load("Probe1", {}, loader=loader) is lib and len(tried) == 1


def test_a_library_without_an_export_or_no_library_at_all_is_refused(monkeypatch):
    monkeypatch.setenv("PROBE2_LIBRARY", "/a/libProbe2.so")
    with pytest.raises(errors.LibraryNotFound, match="has no Pong"):
        _library.load("Probe2", {"Pong": (None, [])}, loader=lambda path: FakeLibrary([]))

    def missing(path):
        raise OSError("no such file")

    with pytest.raises(errors.LibraryNotFound, match=r"PROBE2_LIBRARY.*no such file|no such file.*PROBE2_LIBRARY"):
        _library.load("Probe2", {}, loader=missing)


def test_ctest_runs_every_bench_the_tests_name(request):
    from conftest import PYTHON_DIR
    listed = re.search(r"set\(DAQ_PYTHON_BENCHES(.*?)\)", (PYTHON_DIR / "CMakeLists.txt").read_text(), re.S)
    assert request.config.daq_benches_used <= set(listed.group(1).split())
