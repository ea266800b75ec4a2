"""A build backend (PEP 517, PEP 660) for this one pure-Python package, with
the standard library alone, so that `pip install ./python` works without a
package index.

It reads the [project] table of pyproject.toml (name, version, description,
requires-python, dependencies) and packs src/<name>/ (every file but
compiled ones) into a py3-none-any wheel; the sdist holds pyproject.toml,
build_backend/ and src/. An editable wheel holds a .pth file naming src/.
Archives are reproducible: fixed member order and time stamps
(SOURCE_DATE_EPOCH when set).
"""
import base64
import hashlib
import io
import os
import re
import tarfile
import time
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SOURCE = os.path.join(ROOT, "src")


def _read_project():
    with open(os.path.join(ROOT, "pyproject.toml"), "rb") as f:
        data = f.read()
    try:
        import tomllib
    except ImportError:  # before Python 3.11: the few plain keys this file uses
        return _read_project_plain(data.decode("utf-8"))
    return tomllib.loads(data.decode("utf-8"))["project"]


def _read_project_plain(text):
    table = re.search(r"^\[project\]\s*$(.*?)(?=^\[|\Z)", text, re.M | re.S).group(1)
    project = {}
    for key, value in re.findall(r'^([\w-]+)\s*=\s*(".*?"|\[.*?\])\s*$', table, re.M | re.S):
        project[key] = re.findall(r'"(.*?)"', value) if value.startswith("[") else value[1:-1]
    return project


def _names(project):
    name = project["name"]
    return name, re.sub(r"[-_.]+", "_", name).lower(), project["version"]


def _metadata(project):
    lines = ["Metadata-Version: 2.1", f"Name: {project['name']}", f"Version: {project['version']}"]
    if project.get("description"):
        lines.append(f"Summary: {project['description']}")
    if project.get("requires-python"):
        lines.append(f"Requires-Python: {project['requires-python']}")
    lines += [f"Requires-Dist: {d}" for d in project.get("dependencies", [])]
    return "\n".join(lines) + "\n"


def _wheel_file():
    return "Wheel-Version: 1.0\nGenerator: daqboards_build\nRoot-Is-Purelib: true\nTag: py3-none-any\n"


def _package_files(package):
    """(path in the archive, path on disk) of every file of the package."""
    files = []
    top = os.path.join(SOURCE, package)
    for folder, dirs, names in os.walk(top):
        dirs[:] = sorted(d for d in dirs if d != "__pycache__")
        for n in sorted(names):
            if n.endswith((".pyc", ".pyo")):
                continue
            disk = os.path.join(folder, n)
            files.append((os.path.relpath(disk, SOURCE).replace(os.sep, "/"), disk))
    if not files:
        raise RuntimeError(f"no package found at {top}")
    return files


def _epoch():
    # SOURCE_DATE_EPOCH, or 1980-01-01, where zip time stamps start.
    return max(int(os.environ.get("SOURCE_DATE_EPOCH", "315532800")), 315532800)


def _timestamp():
    return time.gmtime(_epoch())[:6]


def _record_line(path, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{path},sha256={digest},{len(data)}"


def _write_wheel(wheel_directory, members):
    """members: [(archive path, bytes)] without the dist-info RECORD."""
    project = _read_project()
    _, dist, version = _names(project)
    dist_info = f"{dist}-{version}.dist-info"
    members = list(members) + [
        (f"{dist_info}/METADATA", _metadata(project).encode()),
        (f"{dist_info}/WHEEL", _wheel_file().encode()),
    ]
    record = [_record_line(p, d) for p, d in members] + [f"{dist_info}/RECORD,,"]
    members.append((f"{dist_info}/RECORD", ("\n".join(record) + "\n").encode()))
    filename = f"{dist}-{version}-py3-none-any.whl"
    stamp = _timestamp()
    with zipfile.ZipFile(os.path.join(wheel_directory, filename), "w", zipfile.ZIP_DEFLATED) as z:
        for path, data in members:
            info = zipfile.ZipInfo(path, stamp)
            info.external_attr = 0o644 << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, data)
    return filename


def _read(path):
    with open(path, "rb") as f:
        return f.read()


# ---- The hooks -------------------------------------------------------------------

def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def get_requires_for_build_editable(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    project = _read_project()
    _, dist, version = _names(project)
    dist_info = f"{dist}-{version}.dist-info"
    os.makedirs(os.path.join(metadata_directory, dist_info), exist_ok=True)
    for name, text in (("METADATA", _metadata(project)), ("WHEEL", _wheel_file())):
        with open(os.path.join(metadata_directory, dist_info, name), "w", encoding="utf-8") as f:
            f.write(text)
    return dist_info


prepare_metadata_for_build_editable = prepare_metadata_for_build_wheel


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    package = _names(_read_project())[1]
    return _write_wheel(wheel_directory, [(p, _read(d)) for p, d in _package_files(package)])


def build_editable(wheel_directory, config_settings=None, metadata_directory=None):
    _, dist, _ = _names(_read_project())
    return _write_wheel(wheel_directory, [(f"__editable__.{dist}.pth", (SOURCE + "\n").encode())])


def build_sdist(sdist_directory, config_settings=None):
    project = _read_project()
    _, dist, version = _names(project)
    base = f"{dist}-{version}"
    files = [("pyproject.toml", os.path.join(ROOT, "pyproject.toml")),
             ("build_backend/daqboards_build.py", os.path.abspath(__file__))]
    files += [("src/" + p, d) for p, d in _package_files(dist)]
    filename = base + ".tar.gz"
    mtime = _epoch()
    with tarfile.open(os.path.join(sdist_directory, filename), "w:gz", format=tarfile.PAX_FORMAT) as tar:
        entries = files + [("PKG-INFO", None)]
        for path, disk in entries:
            data = _metadata(project).encode() if disk is None else _read(disk)
            info = tarfile.TarInfo(f"{base}/{path}")
            info.size, info.mtime, info.mode = len(data), mtime, 0o644
            tar.addfile(info, io.BytesIO(data))
    return filename
