"""Files that appear only when complete: written to a temporary file beside
the final name, flushed to disk and renamed, so a writer that is killed
never leaves a file that a later step takes as whole."""
import os


def write_atomically(path, write):
    """Calls write(f) on a binary file that becomes path once write returns;
    the temporary file is removed on every way out but success."""
    directory = os.path.dirname(os.path.abspath(path))
    tmp = os.path.join(directory, ".%s.%d.tmp" % (os.path.basename(path), os.getpid()))
    try:
        fd = os.open(tmp, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o666)
        with os.fdopen(fd, "wb") as f:
            write(f)
            f.flush()
            os.fsync(f.fileno())
        os.replace(tmp, path)
    except BaseException:
        try:
            os.unlink(tmp)
        except OSError:
            pass
        raise


def on_term(signum, frame):
    """SIGTERM ends the program as SystemExit(143), so the temporary file is
    removed on the way out."""
    raise SystemExit(143)
