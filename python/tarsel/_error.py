"""tarsel.Error, raised by every call that ends with a result code other than 1."""


class Error(Exception):
    """A result code other than 1 from the arm or the library.

    ``code`` is the result code (compare it with the constants of the module,
    e.g. ``tarsel.NO_ANSWER``), ``where`` the function that failed, and
    ``str(err)`` the code's message, as ``tarsel.result_message(code)`` gives it.
    """

    def __init__(self, code: int, where: str = "") -> None:
        super().__init__(code, where)
        self.code = code
        self.where = where

    def __str__(self) -> str:
        from ._tarsel import result_message

        return result_message(self.code)


Error.__module__ = "tarsel"
