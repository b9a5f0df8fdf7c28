import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)


def test_installs_into_a_venv_from_the_system_packages_alone(tmp_path):
    # As the README says, with --no-index added so that a download fails.
    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", str(venv)], check=True)
    environment = {key: value for key, value in os.environ.items() if key != "PYTHONPATH"}
    install = subprocess.run(
        [str(venv / "bin" / "pip"), "install", "--quiet", "--no-build-isolation", "--no-index",
         SOURCE],
        capture_output=True, text=True, env=environment, cwd=tmp_path, check=False,
    )
    assert install.returncode == 0, install.stdout + install.stderr
    script = ("import numpy, picfile, picfile.pillow\n"
              "print(picfile.__file__)\n"
              "print(picfile.imread(picfile.imencode(numpy.ones((2, 3, 4), numpy.uint8))).sum())\n")
    used = subprocess.run([str(venv / "bin" / "python"), "-c", script], capture_output=True,
                          text=True, env=environment, cwd=tmp_path, check=True)
    where, total = used.stdout.split()
    assert where.startswith(str(venv)) and total == "24"
