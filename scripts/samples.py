"""The sample engine and the sample package from examples/, shared by
`make sample` and `make demo`."""

import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ENGINE = ".orvane/orvane-theme-forge/scripts/customize-theme-macos.sh"
SAMPLE_ENGINE = os.path.join(ROOT, "examples", "engine", "customize-theme-macos.sh")


def install_engine(home):
    """Puts the sample engine where the helper runs the engine from, in
    `home`, and returns its path."""
    engine = os.path.join(home, ENGINE)
    os.makedirs(os.path.dirname(engine), exist_ok=True)
    shutil.copy(SAMPLE_ENGINE, engine)
    os.chmod(engine, 0o755)
    return engine


def build_package(path, image_args=()):
    """Writes examples/package, with an image drawn by make_skin_image.py, as
    the skin package `path`."""
    with tempfile.TemporaryDirectory(prefix="velmora-sample-") as work:
        image = os.path.join(work, "background.png")
        subprocess.run([sys.executable, os.path.join(ROOT, "examples", "make_skin_image.py"), image]
                       + list(image_args), check=True)
        with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
            archive.write(os.path.join(ROOT, "examples", "package", "theme.json"), "theme.json")
            archive.write(image, "background.png")
    return path
