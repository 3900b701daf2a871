"""The exception every damaged .bk file raises."""

__all__ = ["BkError"]


class BkError(ValueError):
    """A .bk file the library cannot restore, or that is not what its encoder writes.

    str() gives unmornak's words for it. The attributes are the library's
    fault: status, the C enumerator's name ("MORNAK_ERROR_NO_END_CODE");
    at_byte, the byte of the .bk file where it was found (the damage may lie
    earlier); code, the code concerned, or 0; restored, the content bytes
    restored before it.
    """

    def __init__(self, message: str, status: str = "MORNAK_ERROR_ARGUMENT", at_byte: int = 0, code: int = 0,
                 restored: int = 0) -> None:
        super().__init__(message)
        self.status = status
        self.at_byte = at_byte
        self.code = code
        self.restored = restored

    def __reduce__(self):  # picklable, so that it crosses process and machine boundaries whole
        return (type(self), (str(self), self.status, self.at_byte, self.code, self.restored))
