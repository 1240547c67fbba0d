-- Rows with empty columns, newest first: each falls back to the next source of its folder or name,
-- and the row without an id is left out.
CREATE TABLE project (id TEXT PRIMARY KEY, worktree TEXT);
CREATE TABLE session (id TEXT, project_id TEXT, title TEXT, directory TEXT, path TEXT, time_created INTEGER,
    time_updated INTEGER, model TEXT, tokens_input INTEGER, tokens_output INTEGER, tokens_cache_read INTEGER,
    tokens_cache_write INTEGER);
INSERT INTO project VALUES ('prj_1', '/home/dev/src/worktree');
INSERT INTO session (id, project_id, title, directory, path, time_created, time_updated) VALUES
    ('no-title', NULL, NULL, NULL, NULL, 1, 6000),
    ('path-only', NULL, 'p', NULL, '/home/dev/src/from-path', 1, 5000),
    ('worktree', 'prj_1', 'w', NULL, NULL, 1, 4000),
    (NULL, NULL, 'no id', '/x', NULL, 1, 3000),
    ('nothing', 'prj_missing', 'Only a title, password=hunter2hunter2', NULL, NULL, 1, 2000);
