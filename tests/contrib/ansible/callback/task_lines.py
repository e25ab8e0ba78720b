# Prints one line per task result, "TASK changed failed msg", for the test to
# compare: ansible-core ships no machine-readable stdout callback.
from ansible.plugins.callback import CallbackBase


class CallbackModule(CallbackBase):
    CALLBACK_VERSION = 2.0
    CALLBACK_TYPE = 'stdout'
    CALLBACK_NAME = 'task_lines'

    def _line(self, result, failed):
        r = result._result
        self._display.display('%s %s %s %s' % (result._task.get_name(), bool(r.get('changed')), failed,
                                               r.get('msg', '')))

    def v2_runner_on_ok(self, result):
        self._line(result, False)

    def v2_runner_on_failed(self, result, ignore_errors=False):
        self._line(result, True)
