"""tarsel.Error, raised by every call that ends with a result code other than 1."""


class Error(Exception):
    """A result code other than 1 from the arm or the library.

    ``code`` is the result code (compare it with the constants of the module,
    e.g. ``tarsel.NO_ANSWER``), ``where`` the function that failed, and
    ``str(err)`` what went wrong: ``message`` when one was given (it names the
    arm that could not be opened, or says that the arm was closed), else the
    code's message, as ``tarsel.result_message(code)`` gives it.
    """

    def __init__(self, code: int, where: str = "", message: str | None = None) -> None:
        super().__init__(code, where)
        self.code = code
        self.where = where
        self.message = message

    def __str__(self) -> str:
        if self.message:
            return self.message
        from ._tarsel import result_message

        return result_message(self.code)


Error.__module__ = "tarsel"
