"""Writing the generated files: a file whose bytes are unchanged is left alone
(so the build does not redo what depends on it), and a changed one is written
under another name first, so a reader never sees half of it."""
import os


def write(path, data):
    if os.path.exists(path):
        with open(path, "rb") as f:
            if f.read() == data:
                return
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)
