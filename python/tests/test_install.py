import os
import shlex
import subprocess

import picfile

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
ROOT = os.path.dirname(SOURCE)


def venv_line():
    """The install line both READMEs give."""
    with open(os.path.join(SOURCE, "README.md"), encoding="utf-8") as readme:
        line = next(text for text in readme.read().splitlines() if " -m venv " in text)
    with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as readme:
        assert line in readme.read().splitlines()
    return line


def test_the_readmes_line_installs_from_the_system_packages_alone(tmp_path):
    # As the README says, with another python3 first on PATH (a pyenv's, say)
    # and --no-index added so that a download fails.
    other = tmp_path / "other"
    other.mkdir()
    (other / "python3").write_text("#!/bin/sh\necho 'not the system python3' >&2\nexit 1\n")
    (other / "python3").chmod(0o755)
    environment = {key: value for key, value in os.environ.items() if key != "PYTHONPATH"}
    environment["PATH"] = f"{other}{os.pathsep}{environment.get('PATH', '')}"
    command = venv_line().replace("./python", shlex.quote(SOURCE))
    command = command.replace(" install ", " install --quiet --no-index ")
    install = subprocess.run(["/bin/sh", "-c", command], capture_output=True, text=True,
                             env=environment, cwd=tmp_path, check=False)
    assert install.returncode == 0, install.stdout + install.stderr
    script = ("import numpy, picfile, picfile.pillow\n"
              "print(picfile.__file__)\n"
              "print(picfile.imdecode(picfile.imencode(numpy.ones((2, 3, 4), numpy.uint8))).sum())\n"
              "print(picfile._core.output_words())\n")
    venv = tmp_path / "venv"
    used = subprocess.run([str(venv / "bin" / "python"), "-c", script], capture_output=True,
                          text=True, env=environment, cwd=tmp_path, check=True)
    where, total, words = used.stdout.split("\n", 2)
    assert where.startswith(str(venv)) and total == "24"
    # The formats CMake's build writes, each found the same way.
    assert words.strip() == picfile._core.output_words()
