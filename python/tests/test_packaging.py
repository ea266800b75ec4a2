"""The in-tree build backend, and `pip install ./python` with no package index."""
import base64
import hashlib
import importlib
import os
import subprocess
import sys
import tarfile
import zipfile

import pytest

from conftest import PYTHON_DIR, library_dir

sys.path.insert(0, str(PYTHON_DIR / "build_backend"))
backend = importlib.import_module("daqboards_build")


def package_sources():
    top = PYTHON_DIR / "src"
    return sorted(str(p.relative_to(top)).replace(os.sep, "/") for p in (top / "daqboards").rglob("*")
                  if p.is_file() and "__pycache__" not in p.parts)


def test_the_wheel_holds_the_package_and_a_record_that_verifies(tmp_path):
    name = backend.build_wheel(str(tmp_path))
    assert name == "daqboards-0.1.0-py3-none-any.whl"
    with zipfile.ZipFile(tmp_path / name) as wheel:
        members = wheel.namelist()
        record = wheel.read("daqboards-0.1.0.dist-info/RECORD").decode().splitlines()
        for line in record:
            path, digest, size = line.rsplit(",", 2)
            if path.endswith("RECORD"):
                continue
            data = wheel.read(path)
            expected = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
            assert digest == f"sha256={expected}" and int(size) == len(data), path
        metadata = wheel.read("daqboards-0.1.0.dist-info/METADATA").decode().splitlines()
    assert sorted(m for m in members if m.startswith("daqboards/")) == package_sources()
    assert {line.split(",")[0] for line in record} == set(members)
    assert "Requires-Dist: numpy" in metadata and "Name: daqboards" in metadata


def test_the_plain_reader_of_pyproject_agrees_with_tomllib():
    tomllib = pytest.importorskip("tomllib")
    text = (PYTHON_DIR / "pyproject.toml").read_text()
    project = tomllib.loads(text)["project"]
    plain = backend._read_project_plain(text)
    for key in ("name", "version", "description", "requires-python", "dependencies"):
        assert plain[key] == project[key], key


def test_the_sdist_builds_the_same_wheel(tmp_path):
    name = backend.build_sdist(str(tmp_path))
    with tarfile.open(tmp_path / name) as sdist:
        sdist.extractall(tmp_path / "unpacked")
    root = tmp_path / "unpacked" / "daqboards-0.1.0"
    assert (root / "PKG-INFO").is_file()
    out = tmp_path / "wheels"
    out.mkdir()
    subprocess.run([sys.executable, "-c", "import sys, daqboards_build; daqboards_build.build_wheel(sys.argv[1])",
                    str(out)], cwd=root / "build_backend", check=True)
    with zipfile.ZipFile(out / "daqboards-0.1.0-py3-none-any.whl") as wheel:
        assert sorted(m for m in wheel.namelist() if m.startswith("daqboards/")) == package_sources()


def test_pip_installs_the_package_without_an_index(tmp_path):
    venv = tmp_path / "venv"
    # The system's numpy (and pip) are seen from the environment.
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", "--without-pip", str(venv)], check=True)
    python = venv / "bin" / "python"
    env = dict(os.environ, PIP_NO_INDEX="1", PIP_DISABLE_PIP_VERSION_CHECK="1", PYTHONPATH="")
    subprocess.run([str(python), "-m", "pip", "install", "-q", str(PYTHON_DIR)], env=env, check=True,
                   cwd=tmp_path)
    env["DAQ_LIBRARY_DIR"] = str(library_dir())
    shown = subprocess.run([str(python), "-c", "import daqboards; from daqboards import dremor, korvel; "
                            "print(daqboards.__file__); print(hex(korvel.dll_version()), hex(dremor.dll_version()))"],
                           env=env, cwd=tmp_path, check=True, capture_output=True, text=True).stdout.split()
    assert shown[0].startswith(str(venv)) and shown[1:] == ["0x201", "0x300"]
