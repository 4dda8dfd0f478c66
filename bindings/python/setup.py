"""Builds dbgparse._dbgparse from libdbgparse's own sources.

In the repository the sources are ../../lib; they are copied into libsrc/
first, so that an sdist made here carries them and builds on its own. The
package's version is the library header's.
"""

import re
import shutil
from pathlib import Path

from setuptools import Extension, setup

HERE = Path(__file__).resolve().parent
REPOSITORY_LIB = HERE.parent.parent / "lib"
LIBSRC = HERE / "libsrc"


def copy_library_sources() -> None:
    """libsrc/ made afresh from the repository's lib/, when there is one."""
    if not (REPOSITORY_LIB / "include" / "dbgparse.h").is_file():
        return
    shutil.rmtree(LIBSRC, ignore_errors=True)
    (LIBSRC / "include").mkdir(parents=True)
    for source in sorted(REPOSITORY_LIB.glob("*.cpp")) + sorted(REPOSITORY_LIB.glob("*.h")):
        shutil.copy2(source, LIBSRC / source.name)
    shutil.copy2(REPOSITORY_LIB / "include" / "dbgparse.h", LIBSRC / "include" / "dbgparse.h")
    shutil.copy2(HERE.parent.parent / "LICENSE", LIBSRC / "LICENSE")


def header_version() -> str:
    header = (LIBSRC / "include" / "dbgparse.h").read_text()
    return re.search(r'^#define DBGPARSE_VERSION_STRING "([^"]+)"', header, re.M).group(1)


copy_library_sources()
library_sources = sorted(str(path.relative_to(HERE)) for path in LIBSRC.glob("*.cpp"))
setup(
    version=header_version(),
    ext_modules=[
        Extension(
            "dbgparse._dbgparse",
            sources=["src/dbgparse/_dbgparse.cpp"] + library_sources,
            include_dirs=["libsrc", "libsrc/include"],
            define_macros=[("DBGPARSE_STATIC", None)],
            extra_compile_args=["-std=c++20", "-fvisibility=hidden", "-O2"],
            language="c++",
        )
    ],
)
