#!/usr/bin/python3
# -*- coding: utf-8 -*-
# Ansible module: brings a touch controller's firmware or configuration to
# the given image with tessaro, reporting a change only when one was made.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: tessaro_update
short_description: Update a touch controller's firmware or configuration with tessaro
description:
  - Asks C(tessaro-info plan) whether the job would change the controller.
  - When it would, runs C(tessaro) with C(TESSARO_RESULT) set and returns the job's result record.
  - In check mode nothing that changes the controller runs; the plan alone decides C(changed).
options:
  job:
    description: The job to run.
    type: str
    required: true
    choices: [firmware, config]
  file:
    description: The firmware image or configuration file on the managed host.
    type: path
    required: true
  flag:
    description: The sub-firmware mask (tessaro's C(--flag)); firmware only. Default tessaro's own (2116).
    type: int
  ignore_ver:
    description: Update even when the versions say it is not needed (tessaro's C(--ignoreVer)).
    type: bool
    default: false
  device:
    description:
      - The controller's path as C(tessaro-info devices) prints it, for hosts with more than one.
      - Passed as C(TESSARO_DEVICE) to both programs and as C(--device) to tessaro-info.
    type: str
  tessaro:
    description: The tessaro program (C(tessaro-sim) rehearses against the simulated controller).
    type: path
    default: tessaro
  tessaro_info:
    description: The tessaro-info program (C(tessaro-info-sim) with C(tessaro-sim)).
    type: path
    default: tessaro-info
  chdir:
    description: The folder the job runs in; its C(TessaroLogFile.txt) gets the job's log.
    type: path
'''

EXAMPLES = r'''
- name: Touch firmware
  tessaro_update:
    job: firmware
    file: /var/lib/tessaro/firmware.bin
    chdir: /var/lib/tessaro
'''

RETURN = r'''
rc:
  description: The job's exit code as the shell sees it (low 8 bits); absent when no job ran.
  type: int
record:
  description: The job's result record (the TESSARO_RESULT object); absent when no job ran.
  type: dict
plan:
  description: The object C(tessaro-info --json plan) printed.
  type: dict
msg:
  description: What happened; on a failed job its last log line.
  type: str
'''

import json
import os
import shutil
import tempfile

from ansible.module_utils.basic import AnsibleModule


# ---- The two JSON objects this module reads, and only here. ----
# tessaro-info's plan and tessaro's result record may grow new keys or change
# their form; everything below these two functions sees only what they return.

# The plan's decisions (schema 1) as tessaro-info's text words them, for msg.
PLAN_WORDS = {'no-update': 'no update', 'no-controller': 'no controller', 'busy': 'controller busy',
              'unreadable': 'controller unreadable', 'refused': 'refused'}


def read_plan(plan):
    """Turns the plan object into (verdict, text): verdict is 'change',
    'current' (nothing would change), or 'fail'."""
    decision = plan.get('decision')
    why = plan.get('why') or ''
    word = PLAN_WORDS.get(decision, decision)
    text = word if not why else '%s: %s' % (word, why)
    if decision == 'update':
        return 'change', 'would update: ' + why
    if decision == 'no-update':
        return 'current', text
    lines = plan.get('lines') or []
    if lines:
        text = '%s (%s)' % (text, lines[-1])
    return 'fail', text


def read_record(record):
    """Turns the result record into (verdict, last log line, whether the job
    sent the controller anything that changes it), verdict as above."""
    outcome = record.get('outcome')
    line = record.get('lastMessage') or record.get('lastError') or ''
    if outcome == 'updated':
        return 'change', line, True
    if outcome in ('not-needed-other-pid', 'not-needed-same-vid', 'not-needed-version'):
        return 'current', line, False
    # Only a job the controller answered got as far as writing to it.
    return 'fail', line or 'outcome: %s' % outcome, outcome == 'failed'


# ---- The module. ----

def main():
    module = AnsibleModule(
        argument_spec=dict(
            job=dict(type='str', required=True, choices=['firmware', 'config']),
            file=dict(type='path', required=True),
            flag=dict(type='int'),
            ignore_ver=dict(type='bool', default=False),
            device=dict(type='str'),
            tessaro=dict(type='path', default='tessaro'),
            tessaro_info=dict(type='path', default='tessaro-info'),
            chdir=dict(type='path'),
        ),
        supports_check_mode=True,
    )
    p = module.params
    cwd = p['chdir'] or os.getcwd()
    # The controller's path goes to tessaro as an environment variable, so
    # that its command line stays as it always was.
    env = {}
    if p['device']:
        env['TESSARO_DEVICE'] = p['device']

    plan_args = [p['tessaro_info'], '--json', 'plan', p['job'], p['file']]
    job_args = [p['tessaro'], '-f' if p['job'] == 'firmware' else '-c', '--file=' + p['file']]
    if p['flag'] is not None:
        # Both programs take the mask's 32 bits as a signed decimal.
        flag = p['flag'] & 0xFFFFFFFF
        flag = flag - (1 << 32) if flag > 0x7FFFFFFF else flag
        plan_args.append('--flag=%d' % flag)
        job_args.append('--flag=%d' % flag)
    if p['ignore_ver']:
        plan_args.append('--ignoreVer')
        job_args.append('--ignoreVer')
    if p['device']:
        plan_args += ['--device', p['device']]

    rc, out, err = module.run_command(plan_args, cwd=cwd, environ_update=env)
    try:
        plan = json.loads(out)
    except ValueError:
        module.fail_json(msg='tessaro-info plan gave no JSON (exit code %d): %s' % (rc, (err or out).strip()),
                         plan_rc=rc)
    verdict, text = read_plan(plan)
    if verdict == 'fail':
        module.fail_json(msg=text, plan=plan, plan_rc=rc)
    if verdict == 'current' or module.check_mode:
        module.exit_json(changed=verdict == 'change', msg=text, plan=plan)

    folder = tempfile.mkdtemp(prefix='tessaro-')
    try:
        env['TESSARO_RESULT'] = os.path.join(folder, 'result.json')
        rc, out, err = module.run_command(job_args, cwd=cwd, environ_update=env)
        try:
            with open(env['TESSARO_RESULT']) as f:
                record = json.load(f)
        except (IOError, OSError, ValueError):
            record = None
    finally:
        shutil.rmtree(folder, ignore_errors=True)

    if record is None:
        # A run that did not end leaves no record: its console is all there is.
        lines = [line for line in (out + err).splitlines() if line.strip()]
        module.fail_json(msg=lines[-1] if lines else 'tessaro left no result (exit code %d)' % rc,
                         rc=rc, stdout=out, stderr=err, plan=plan)
    verdict, line, touched = read_record(record)
    result = dict(changed=touched, rc=rc, record=record, plan=plan, stdout=out, stderr=err)
    if verdict == 'fail':
        module.fail_json(msg=line, **result)
    module.exit_json(msg=line, **result)


if __name__ == '__main__':
    main()
